// Deliberately empty: stands in for a WebKit library that lacks every function the program needs.
namespace {
[[maybe_unused]] int placeholder = 0;
}
