#include "x_display.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

namespace quelby::x11_testing {

namespace {

using DisplayPtr = std::unique_ptr<Display, decltype(&XCloseDisplay)>;

// Tried again for a while: with the whole suite starting at once on two cores, a connection to a
// server that has just said it is ready was seen refused now and then.
DisplayPtr open_display(const std::string& name) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (true) {
        DisplayPtr display(XOpenDisplay(name.c_str()), &XCloseDisplay);
        if (display) {
            return display;
        }
        if (Clock::now() >= deadline) {
            throw std::runtime_error("cannot open X display " + name);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

std::optional<std::string> utf8_property(Display* display, Window window, const char* property) {
    Atom type = None;
    int format = 0;
    unsigned long items = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    const Atom name = XInternAtom(display, property, False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    if (XGetWindowProperty(display, window, name, 0, 1024, False, utf8, &type, &format, &items,
                           &after, &data) != Success ||
        data == nullptr) {
        return std::nullopt;
    }
    std::string value(reinterpret_cast<const char*>(data), items);
    XFree(data);
    if (type != utf8) {
        return std::nullopt;
    }
    return value;
}

unsigned long find_titled(Display* display, Window parent, const std::string& title) {
    if (utf8_property(display, parent, "_NET_WM_NAME") == title) {
        return parent;
    }
    Window root = 0;
    Window up = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, parent, &root, &up, &children, &count) == 0) {
        return 0;
    }
    unsigned long found = 0;
    for (unsigned int i = 0; i < count && found == 0; ++i) {
        found = find_titled(display, children[i], title);
    }
    if (children != nullptr)
        XFree(children);
    return found;
}

}  // namespace

// Xvfb writes the display number it chose to standard output once it accepts connections.
XvfbDisplay::XvfbDisplay() {
    constexpr int FIRST = 100;
    constexpr int LAST = 30000;
    constexpr int ATTEMPTS = 20;
    std::random_device random;
    std::uniform_int_distribution<int> pick(FIRST, LAST);
    std::string reasons;
    for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
        std::string name(1, ':');
        name.append(std::to_string(pick(random)));
        xvfb_.emplace(std::vector<std::string>{"Xvfb", name, "-displayfd", "1", "-screen", "0",
                                               "1280x1024x24", "-nolisten", "tcp"});
        if (const auto number = xvfb_->read_line(std::chrono::seconds(20)); number) {
            name_ = ":" + *number;
            return;
        }
        reasons += xvfb_->err();
        xvfb_.reset();
    }
    throw std::runtime_error("Xvfb did not start on any display: " + reasons);
}

XvfbDisplay::~XvfbDisplay() {
    // Asked to end rather than killed, so that it removes its socket and lock file.
    if (xvfb_) {
        // A server that ended while its test ran explains that test's X failures.
        if (const auto ended = xvfb_->wait_exit(Clock::now()); ended) {
            std::fprintf(stderr, "Xvfb %s had ended during the test (status %d): %s\n",
                         name_.c_str(), *ended, xvfb_->err().c_str());
        }
        xvfb_->send_signal(SIGTERM);
        xvfb_->wait_exit(Clock::now() + std::chrono::seconds(10));
    }
}

TemporaryHome::TemporaryHome() {
    for (const char* sub : {"config", "cache", "data", "state", "runtime", "Downloads"}) {
        std::filesystem::create_directories(path() / sub);
    }
    std::filesystem::permissions(path() / "runtime", std::filesystem::perms::owner_all);
}

std::vector<EnvChange> TemporaryHome::environment() const {
    return {
        {"HOME", path().string()},
        {"XDG_CONFIG_HOME", (path() / "config").string()},
        {"XDG_CACHE_HOME", (path() / "cache").string()},
        {"XDG_DATA_HOME", (path() / "data").string()},
        {"XDG_STATE_HOME", (path() / "state").string()},
        {"XDG_RUNTIME_DIR", (path() / "runtime").string()},
        {"XDG_DOWNLOAD_DIR", (path() / "Downloads").string()},
    };
}

unsigned long wait_for_window_titled(const std::string& display_name, const std::string& title,
                                     Clock::time_point deadline) {
    DisplayPtr display = open_display(display_name);
    const Window root = DefaultRootWindow(display.get());
    // New top-level windows are announced on the root; each announcement prompts a new search.
    XSelectInput(display.get(), root, SubstructureNotifyMask | PropertyChangeMask);
    const int fd = ConnectionNumber(display.get());
    while (true) {
        if (const unsigned long found = find_titled(display.get(), root, title); found != 0) {
            return found;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return 0;
        }
        XFlush(display.get());
        if (XPending(display.get()) == 0) {
            pollfd entry{.fd = fd, .events = POLLIN, .revents = 0};
            // Titles set after creation are property changes on the window itself, which the root
            // does not report: look again at least every 200 ms.
            poll(&entry, 1, static_cast<int>(std::min<long long>(left, 200)));
        }
        while (XPending(display.get()) > 0) {
            XEvent event;
            XNextEvent(display.get(), &event);
        }
    }
}

std::optional<std::string> window_net_wm_name(const std::string& display_name,
                                              unsigned long window) {
    DisplayPtr display = open_display(display_name);
    return utf8_property(display.get(), window, "_NET_WM_NAME");
}

bool request_window_close(const std::string& display_name, unsigned long window) {
    DisplayPtr display = open_display(display_name);
    const Atom protocols = XInternAtom(display.get(), "WM_PROTOCOLS", False);
    const Atom delete_window = XInternAtom(display.get(), "WM_DELETE_WINDOW", False);
    Atom* supported = nullptr;
    int count = 0;
    bool takes_part = false;
    if (XGetWMProtocols(display.get(), window, &supported, &count) != 0) {
        for (int i = 0; i < count; ++i)
            takes_part = takes_part || supported[i] == delete_window;
        XFree(supported);
    }
    if (!takes_part) {
        return false;
    }
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(delete_window);
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display.get(), window, False, NoEventMask, &event);
    XSync(display.get(), False);
    return true;
}

Screenshot capture_screen(const std::string& display_name) {
    DisplayPtr display = open_display(display_name);
    const int screen = DefaultScreen(display.get());
    Screenshot shot{.width = DisplayWidth(display.get(), screen),
                    .height = DisplayHeight(display.get(), screen),
                    .rgb = {}};
    XImage* image = XGetImage(display.get(), DefaultRootWindow(display.get()), 0, 0,
                              static_cast<unsigned>(shot.width), static_cast<unsigned>(shot.height),
                              AllPlanes, ZPixmap);
    if (image == nullptr) {
        throw std::runtime_error("cannot read the screen of " + display_name);
    }
    // Xvfb's 24-bit visual: one channel per byte of the pixel value, red highest.
    shot.rgb.reserve(static_cast<std::size_t>(shot.width) * static_cast<std::size_t>(shot.height) *
                     3);
    for (int y = 0; y < shot.height; ++y) {
        for (int x = 0; x < shot.width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            shot.rgb.push_back(static_cast<std::uint8_t>((pixel & image->red_mask) >> 16U));
            shot.rgb.push_back(static_cast<std::uint8_t>((pixel & image->green_mask) >> 8U));
            shot.rgb.push_back(static_cast<std::uint8_t>(pixel & image->blue_mask));
        }
    }
    XDestroyImage(image);
    return shot;
}

namespace {

bool near(const std::uint8_t* pixel, Colour colour, int tolerance) {
    return std::abs(pixel[0] - colour.red) <= tolerance &&
           std::abs(pixel[1] - colour.green) <= tolerance &&
           std::abs(pixel[2] - colour.blue) <= tolerance;
}

}  // namespace

std::size_t count_pixels_near(const Screenshot& shot, Colour colour, int tolerance) {
    std::size_t count = 0;
    for (std::size_t i = 0; i + 2 < shot.rgb.size(); i += 3) {
        count += near(&shot.rgb[i], colour, tolerance) ? 1 : 0;
    }
    return count;
}

PixelRun longest_run_of(const Screenshot& shot, Colour colour, int tolerance) {
    PixelRun longest;
    for (int y = 0; y < shot.height; ++y) {
        int run = 0;
        for (int x = 0; x < shot.width; ++x) {
            const std::size_t at =
                (static_cast<std::size_t>(y) * static_cast<std::size_t>(shot.width) +
                 static_cast<std::size_t>(x)) *
                3;
            run = near(&shot.rgb[at], colour, tolerance) ? run + 1 : 0;
            if (run > longest.length) {
                longest = PixelRun{.length = run, .x = x - run + 1, .y = y};
            }
        }
    }
    return longest;
}

int longest_run_near(const Screenshot& shot, Colour colour, int tolerance) {
    return longest_run_of(shot, colour, tolerance).length;
}

}  // namespace quelby::x11_testing
