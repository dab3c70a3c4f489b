// Counts every call of the global operator new in the benchmark binary.
#pragma once

#include <cstddef>

std::size_t allocations_so_far() noexcept;
