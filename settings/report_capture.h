#pragma once
// Quiet work on one thread: while a ReportCapture is installed on a thread, an error report
// made on that thread is only recorded (no log line, no box, the program does not end), a
// message box answers its default without showing anything, and letting events run does not
// process window events (those belong to the program's main thread; registered pumps still
// run). A trial of a template uses it so that nothing it meets reaches the user or the logs.

#include <string>
#include <vector>

namespace tallix {

class ReportCapture {
  public:
    ReportCapture();
    ~ReportCapture();
    ReportCapture(const ReportCapture&) = delete;
    ReportCapture& operator=(const ReportCapture&) = delete;

    // The texts reported (with the pending error's number and description) and the texts of
    // the boxes that were not shown, in the order they came.
    const std::vector<std::string>& Texts() const { return m_texts; }
    void Add(std::string text) { m_texts.push_back(std::move(text)); }
    void Clear() { m_texts.clear(); }

    // The capture installed on the calling thread, or nullptr.
    static ReportCapture* Active();

  private:
    ReportCapture* m_previous;
    std::vector<std::string> m_texts;
};

}  // namespace tallix
