#include "gtk_api.h"

#include <dlfcn.h>

#include <initializer_list>
#include <string>

namespace quelby::webview_host::gtk {

Result<void*> open_library(const char* name) {
    // RTLD_NOW: a library whose own dependencies are broken fails here, with the loader's reason,
    // rather than at some later call.
    void* library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* reason = dlerror();
        return std::unexpected(ErrorChain::from_message(
                                   reason != nullptr ? reason : "the dynamic loader gave no reason")
                                   .with_context(std::string("could not load ") + name));
    }
    return library;
}

Result<void*> find_symbol(void* library, const char* library_name, const char* symbol) {
    dlerror();
    void* address = dlsym(library, symbol);
    if (address == nullptr) {
        return std::unexpected(
            ErrorChain::from_message(std::string(library_name) + " has no function " + symbol));
    }
    return address;
}

namespace {

struct OpenedLibrary {
    const char* name = nullptr;
    void* handle = nullptr;
};

Status open_all(std::initializer_list<OpenedLibrary*> libraries) {
    for (OpenedLibrary* library : libraries) {
        auto handle = open_library(library->name);
        if (!handle) {
            return std::unexpected(std::move(handle).error());
        }
        library->handle = *handle;
    }
    return {};
}

#define QUELBY_GTK_RESOLVE_ENTRY(library, function)                          \
    {                                                                        \
        auto address = find_symbol(library.handle, library.name, #function); \
        if (!address) {                                                      \
            return std::unexpected(std::move(address).error());              \
        }                                                                    \
        api.function = reinterpret_cast<decltype(&::function)>(*address);    \
    }

Result<WindowApi> resolve_window_api() {
    OpenedLibrary glib{GLIB_LIBRARY};
    OpenedLibrary gobject{GOBJECT_LIBRARY};
    OpenedLibrary gio{GIO_LIBRARY};
    OpenedLibrary gtk{GTK_LIBRARY};
    if (auto opened = open_all({&glib, &gobject, &gio, &gtk}); !opened) {
        return std::unexpected(std::move(opened).error());
    }
    WindowApi api;
    QUELBY_GTK_WINDOW_FUNCTIONS(QUELBY_GTK_RESOLVE_ENTRY)
    return api;
}

Result<WebKitApi> resolve_webkit_api() {
    OpenedLibrary webkit{WEBKIT_LIBRARY};
    OpenedLibrary soup{SOUP_LIBRARY};
    if (auto opened = open_all({&webkit, &soup}); !opened) {
        return std::unexpected(std::move(opened).error());
    }
    WebKitApi api;
    QUELBY_WEBKIT_FUNCTIONS(QUELBY_GTK_RESOLVE_ENTRY)
    return api;
}

#undef QUELBY_GTK_RESOLVE_ENTRY

}  // namespace

Result<const WindowApi*> load_window_api() {
    static const Result<WindowApi> api = resolve_window_api();
    if (!api) {
        return std::unexpected(api.error());
    }
    return &*api;
}

Result<const WebKitApi*> load_webkit_api() {
    static const Result<WebKitApi> api = resolve_webkit_api();
    if (!api) {
        return std::unexpected(api.error());
    }
    return &*api;
}

}  // namespace quelby::webview_host::gtk
