#include "webview2_options.h"

#include <cstring>
#include <mutex>

#include "com_object.h"

namespace quelby::webview_host {
namespace {

using webview2::ICoreWebView2EnvironmentOptions;

class EnvironmentOptions {
  public:
    explicit EnvironmentOptions(EnvironmentSettings settings) : settings_(std::move(settings)) {}

    static bool answers(REFIID riid) {
        return answers_any(riid, {webview2::IID_ENVIRONMENT_OPTIONS});
    }

    // The runtime frees what it gets with CoTaskMemFree.
    HRESULT get(const std::wstring EnvironmentSettings::*field, LPWSTR* value) {
        if (value == nullptr) {
            return E_POINTER;
        }
        const std::lock_guard lock(mutex_);
        const std::wstring& text = settings_.*field;
        const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
        *value = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
        if (*value == nullptr) {
            return E_OUTOFMEMORY;
        }
        std::memcpy(*value, text.c_str(), bytes);
        return S_OK;
    }

    HRESULT put(std::wstring EnvironmentSettings::*field, LPCWSTR value) {
        const std::lock_guard lock(mutex_);
        settings_.*field = value == nullptr ? std::wstring() : std::wstring(value);
        return S_OK;
    }

    HRESULT get_single_sign_on(BOOL* allow) const {
        if (allow == nullptr) {
            return E_POINTER;
        }
        *allow = single_sign_on_;
        return S_OK;
    }
    HRESULT put_single_sign_on(BOOL allow) {
        single_sign_on_ = allow;
        return S_OK;
    }

  private:
    std::mutex mutex_;
    EnvironmentSettings settings_;
    std::atomic<BOOL> single_sign_on_{FALSE};
};

using Object = ComObject<ICoreWebView2EnvironmentOptions, EnvironmentOptions>;

HRESULT STDMETHODCALLTYPE get_arguments(ICoreWebView2EnvironmentOptions* self, LPWSTR* value) {
    return Object::impl_of(self).get(&EnvironmentSettings::additional_browser_arguments, value);
}
HRESULT STDMETHODCALLTYPE put_arguments(ICoreWebView2EnvironmentOptions* self, LPCWSTR value) {
    return Object::impl_of(self).put(&EnvironmentSettings::additional_browser_arguments, value);
}
HRESULT STDMETHODCALLTYPE get_language(ICoreWebView2EnvironmentOptions* self, LPWSTR* value) {
    return Object::impl_of(self).get(&EnvironmentSettings::language, value);
}
HRESULT STDMETHODCALLTYPE put_language(ICoreWebView2EnvironmentOptions* self, LPCWSTR value) {
    return Object::impl_of(self).put(&EnvironmentSettings::language, value);
}
HRESULT STDMETHODCALLTYPE get_target_version(ICoreWebView2EnvironmentOptions* self, LPWSTR* value) {
    return Object::impl_of(self).get(&EnvironmentSettings::target_compatible_browser_version,
                                     value);
}
HRESULT STDMETHODCALLTYPE put_target_version(ICoreWebView2EnvironmentOptions* self, LPCWSTR value) {
    return Object::impl_of(self).put(&EnvironmentSettings::target_compatible_browser_version,
                                     value);
}
HRESULT STDMETHODCALLTYPE get_single_sign_on(ICoreWebView2EnvironmentOptions* self, BOOL* allow) {
    return Object::impl_of(self).get_single_sign_on(allow);
}
HRESULT STDMETHODCALLTYPE put_single_sign_on(ICoreWebView2EnvironmentOptions* self, BOOL allow) {
    return Object::impl_of(self).put_single_sign_on(allow);
}

webview2::ICoreWebView2EnvironmentOptionsVtbl OPTIONS_TABLE{
    .QueryInterface = Object::query_interface,
    .AddRef = Object::add_ref,
    .Release = Object::release,
    .get_AdditionalBrowserArguments = get_arguments,
    .put_AdditionalBrowserArguments = put_arguments,
    .get_Language = get_language,
    .put_Language = put_language,
    .get_TargetCompatibleBrowserVersion = get_target_version,
    .put_TargetCompatibleBrowserVersion = put_target_version,
    .get_AllowSingleSignOnUsingOSPrimaryAccount = get_single_sign_on,
    .put_AllowSingleSignOnUsingOSPrimaryAccount = put_single_sign_on,
};

}  // namespace

ICoreWebView2EnvironmentOptions* make_environment_options(EnvironmentSettings settings) {
    return make_com_object<ICoreWebView2EnvironmentOptions>(
        OPTIONS_TABLE, std::make_unique<EnvironmentOptions>(std::move(settings)));
}

}  // namespace quelby::webview_host
