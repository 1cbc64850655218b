#include "settings/report_capture.h"

namespace tallix {
namespace {
thread_local ReportCapture* t_active = nullptr;
}  // namespace

ReportCapture::ReportCapture() : m_previous(t_active) {
    t_active = this;
}
ReportCapture::~ReportCapture() {
    t_active = m_previous;
}
ReportCapture* ReportCapture::Active() {
    return t_active;
}

}  // namespace tallix
