#include "span_stream.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

#include "com_object.h"

namespace quelby::webview_host {
namespace {

class SpanStream {
  public:
    SpanStream(std::span<const std::uint8_t> bytes, std::uint64_t position)
        : bytes_(bytes), position_(position) {}

    // Agile: the bytes never change, and the position is guarded, so any thread may read.
    static bool answers(REFIID riid) {
        return answers_any(riid, {webview2::IID_STREAM, webview2::IID_SEQUENTIAL_STREAM,
                                  webview2::IID_AGILE_OBJECT});
    }

    HRESULT read(void* buffer, ULONG wanted, ULONG* read_count) {
        if (buffer == nullptr && wanted != 0) {
            return STG_E_INVALIDPOINTER;
        }
        const std::lock_guard lock(mutex_);
        const std::uint64_t available = position_ < bytes_.size() ? bytes_.size() - position_ : 0;
        const auto count = static_cast<ULONG>(std::min<std::uint64_t>(wanted, available));
        if (count != 0) {
            std::memcpy(buffer, bytes_.data() + position_, count);
        }
        position_ += count;
        if (read_count != nullptr) {
            *read_count = count;
        }
        return count < wanted ? S_FALSE : S_OK;
    }

    HRESULT seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* new_position) {
        const std::lock_guard lock(mutex_);
        std::int64_t base = 0;
        switch (origin) {
            case STREAM_SEEK_SET:
                base = 0;
                break;
            case STREAM_SEEK_CUR:
                base = static_cast<std::int64_t>(position_);
                break;
            case STREAM_SEEK_END:
                base = static_cast<std::int64_t>(bytes_.size());
                break;
            default:
                return STG_E_INVALIDFUNCTION;
        }
        const std::int64_t target = base + move.QuadPart;
        if (target < 0) {
            return STG_E_INVALIDFUNCTION;
        }
        position_ = static_cast<std::uint64_t>(target);
        if (new_position != nullptr) {
            new_position->QuadPart = position_;
        }
        return S_OK;
    }

    HRESULT stat(STATSTG* statistics) const {
        if (statistics == nullptr) {
            return STG_E_INVALIDPOINTER;
        }
        *statistics = STATSTG{};
        statistics->type = STGTY_STREAM;
        statistics->cbSize.QuadPart = bytes_.size();
        statistics->grfMode = STGM_READ;
        return S_OK;
    }

    HRESULT clone(IStream** copy) {
        if (copy == nullptr) {
            return STG_E_INVALIDPOINTER;
        }
        std::uint64_t position = 0;
        {
            const std::lock_guard lock(mutex_);
            position = position_;
        }
        *copy = make(bytes_, position);
        return S_OK;
    }

    HRESULT copy_to(IStream* target, ULARGE_INTEGER wanted, ULARGE_INTEGER* read_total,
                    ULARGE_INTEGER* written_total) {
        if (target == nullptr) {
            return STG_E_INVALIDPOINTER;
        }
        std::uint64_t read = 0;
        std::uint64_t written = 0;
        HRESULT result = S_OK;
        {
            const std::lock_guard lock(mutex_);
            const std::uint64_t available =
                position_ < bytes_.size() ? bytes_.size() - position_ : 0;
            std::uint64_t remaining = std::min<std::uint64_t>(wanted.QuadPart, available);
            while (remaining != 0) {
                const auto chunk = static_cast<ULONG>(std::min<std::uint64_t>(remaining, 1U << 20));
                ULONG done = 0;
                result = target->lpVtbl->Write(target, bytes_.data() + position_, chunk, &done);
                position_ += chunk;
                read += chunk;
                written += done;
                remaining -= chunk;
                if (FAILED(result) || done != chunk) {
                    break;
                }
            }
        }
        if (read_total != nullptr) {
            read_total->QuadPart = read;
        }
        if (written_total != nullptr) {
            written_total->QuadPart = written;
        }
        return FAILED(result) ? result : S_OK;
    }

    static IStream* make(std::span<const std::uint8_t> bytes, std::uint64_t position);

  private:
    std::span<const std::uint8_t> bytes_;
    mutable std::mutex mutex_;
    std::uint64_t position_ = 0;
};

using Object = ComObject<IStream, SpanStream>;

HRESULT STDMETHODCALLTYPE stream_read(IStream* self, void* buffer, ULONG wanted, ULONG* read) {
    return Object::impl_of(self).read(buffer, wanted, read);
}
HRESULT STDMETHODCALLTYPE stream_write(IStream*, const void*, ULONG, ULONG* written) {
    if (written != nullptr) {
        *written = 0;
    }
    return STG_E_ACCESSDENIED;
}
HRESULT STDMETHODCALLTYPE stream_seek(IStream* self, LARGE_INTEGER move, DWORD origin,
                                      ULARGE_INTEGER* position) {
    return Object::impl_of(self).seek(move, origin, position);
}
HRESULT STDMETHODCALLTYPE stream_set_size(IStream*, ULARGE_INTEGER) {
    return STG_E_ACCESSDENIED;
}
HRESULT STDMETHODCALLTYPE stream_copy_to(IStream* self, IStream* target, ULARGE_INTEGER wanted,
                                         ULARGE_INTEGER* read, ULARGE_INTEGER* written) {
    return Object::impl_of(self).copy_to(target, wanted, read, written);
}
HRESULT STDMETHODCALLTYPE stream_commit(IStream*, DWORD) {
    return S_OK;
}
HRESULT STDMETHODCALLTYPE stream_revert(IStream*) {
    return S_OK;
}
HRESULT STDMETHODCALLTYPE stream_lock_region(IStream*, ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    return STG_E_INVALIDFUNCTION;
}
HRESULT STDMETHODCALLTYPE stream_unlock_region(IStream*, ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    return STG_E_INVALIDFUNCTION;
}
HRESULT STDMETHODCALLTYPE stream_stat(IStream* self, STATSTG* statistics, DWORD) {
    return Object::impl_of(self).stat(statistics);
}
HRESULT STDMETHODCALLTYPE stream_clone(IStream* self, IStream** copy) {
    return Object::impl_of(self).clone(copy);
}

IStreamVtbl STREAM_TABLE{
    .QueryInterface = Object::query_interface,
    .AddRef = Object::add_ref,
    .Release = Object::release,
    .Read = stream_read,
    .Write = stream_write,
    .Seek = stream_seek,
    .SetSize = stream_set_size,
    .CopyTo = stream_copy_to,
    .Commit = stream_commit,
    .Revert = stream_revert,
    .LockRegion = stream_lock_region,
    .UnlockRegion = stream_unlock_region,
    .Stat = stream_stat,
    .Clone = stream_clone,
};

IStream* SpanStream::make(std::span<const std::uint8_t> bytes, std::uint64_t position) {
    return make_com_object<IStream>(STREAM_TABLE, std::make_unique<SpanStream>(bytes, position));
}

}  // namespace

IStream* make_span_stream(std::span<const std::uint8_t> bytes) {
    return SpanStream::make(bytes, 0);
}

}  // namespace quelby::webview_host
