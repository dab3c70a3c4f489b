#include "quelby/webview_host/host.h"

namespace quelby::webview_host {

Responder& Responder::operator=(Responder&& other) noexcept {
    if (this != &other) {
        answer_unanswered();
        completion_ = std::move(other.completion_);
        other.completion_ = nullptr;
    }
    return *this;
}

Responder::~Responder() {
    answer_unanswered();
}

void Responder::respond(Response response) {
    if (!completion_) {
        return;
    }
    // Taken out first so that a re-entrant call from inside the completion is ignored.
    Completion completion = std::move(completion_);
    completion_ = nullptr;
    completion(response);
}

void Responder::answer_unanswered() noexcept {
    if (completion_) {
        try {
            respond(Response{.status = 500, .headers = {}, .body = {}});
        } catch (...) {
            // Called from the destructor: a backend that cannot even answer must not take the
            // process down with it.
        }
    }
}

}  // namespace quelby::webview_host
