#include "qrmime/qrmime_c.h"

#include <algorithm>
#include <cstring>

#include "qrmime/control.h"

namespace {

// Turns the control's events into the C callbacks.
class CallbackEvents final : public qrmime::QRMIMEEvents {
  public:
    qrmime_callbacks callbacks{};

    void EncodingStarted() override {
        if (callbacks.started) callbacks.started(callbacks.user, 1);
    }
    void DecodingStarted() override {
        if (callbacks.started) callbacks.started(callbacks.user, 0);
    }
    void Encoded(std::int32_t read, std::int32_t written, std::int32_t lines) override {
        if (callbacks.progress) callbacks.progress(callbacks.user, 1, read, written, lines);
    }
    void Decoded(std::int32_t read, std::int32_t written, std::int32_t lines) override {
        if (callbacks.progress) callbacks.progress(callbacks.user, 0, read, written, lines);
    }
    void EncodingFinished(std::int16_t error) override {
        if (callbacks.finished) callbacks.finished(callbacks.user, 1, error);
    }
    void DecodingFinished(std::int16_t error) override {
        if (callbacks.finished) callbacks.finished(callbacks.user, 0, error);
    }
    void DecodingFile(std::string& fileName, const std::string& contentType,
                      const std::string& contentEncoding) override {
        if (!callbacks.decoding_file) return;
        std::string buffer(qrmime::kMaxNameLength + 1, '\0');
        std::memcpy(buffer.data(), fileName.data(),
                    std::min(fileName.size(), qrmime::kMaxNameLength));
        callbacks.decoding_file(callbacks.user, buffer.data(), buffer.size(), contentType.c_str(),
                                contentEncoding.c_str());
        buffer.back() = '\0';
        fileName = buffer.c_str();
    }
};

std::string Text(const char* text) {
    return text ? text : "";
}

}  // namespace

struct qrmime_ctrl {
    qrmime::QRMIMECtrl ctrl;
    CallbackEvents events;
};

extern "C" {

qrmime_ctrl* qrmime_create(void) {
    try {
        auto* handle = new qrmime_ctrl;
        handle->ctrl.SetEvents(&handle->events);
        return handle;
    } catch (...) {
        return nullptr;
    }
}

void qrmime_destroy(qrmime_ctrl* ctrl) {
    delete ctrl;
}

void qrmime_set_callbacks(qrmime_ctrl* ctrl, const qrmime_callbacks* callbacks) {
    if (!ctrl) return;
    ctrl->events.callbacks = callbacks ? *callbacks : qrmime_callbacks{};
}

void qrmime_set_source(qrmime_ctrl* ctrl, const char* path) {
    if (ctrl) ctrl->ctrl.SetSourceFilename(Text(path));
}
void qrmime_set_destination(qrmime_ctrl* ctrl, const char* path) {
    if (ctrl) ctrl->ctrl.SetDestinationFilename(Text(path));
}
void qrmime_set_content_type(qrmime_ctrl* ctrl, const char* type) {
    if (ctrl) ctrl->ctrl.SetContentType(Text(type));
}
void qrmime_set_fire_status(qrmime_ctrl* ctrl, int fire) {
    if (ctrl) ctrl->ctrl.SetFireStatus(fire != 0);
}
int32_t qrmime_destination_size(const qrmime_ctrl* ctrl) {
    return ctrl ? ctrl->ctrl.DestinationFileSize() : 0;
}

int qrmime_encode(qrmime_ctrl* ctrl) {
    return ctrl && ctrl->ctrl.MIMEEncode() ? 1 : 0;
}
int qrmime_decode(qrmime_ctrl* ctrl) {
    return ctrl && ctrl->ctrl.MIMEDecode() ? 1 : 0;
}

size_t qrmime_process_events(qrmime_ctrl* ctrl) {
    return ctrl ? ctrl->ctrl.ProcessPendingEvents() : 0;
}

int qrmime_wait_idle(qrmime_ctrl* ctrl, long timeout_ms) {
    return ctrl && ctrl->ctrl.WaitUntilIdle(std::chrono::milliseconds(timeout_ms)) ? 1 : 0;
}

}  // extern "C"
