// qrmime: decode a MIME entity into files, encode a file as a base64 MIME entity, or list
// the parts a decode would find.
//
//   qrmime decode FILE [DIR]        write each part into DIR (default: the current directory)
//   qrmime encode FILE OUT [TYPE]   write FILE as one base64 entity of TYPE to OUT
//   qrmime parts FILE               print what the scan finds, with byte offsets
//
// Exit status: 0 done, 1 the operation failed (or a part could not be written), 2 usage.

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "qrmime/control.h"

namespace {

constexpr auto kOperationLimit = std::chrono::hours(24);

const char* StatusText(qrmime::StartStatus status) {
    using qrmime::StartStatus;
    switch (status) {
        case StartStatus::Started:
            return "started";
        case StartStatus::Busy:
            return "an operation is already running";
        case StartStatus::NoFileName:
            return "no file name";
        case StartStatus::SourceUnreadable:
            return "cannot read the source file";
        case StartStatus::NotMime:
            return "no \"Content-Type: \" in the first 8192 bytes";
        case StartStatus::BadBoundary:
            return "multipart without a usable boundary";
        case StartStatus::NoTransferEncoding:
            return "single part without Content-Transfer-Encoding";
        case StartStatus::NoDecodablePart:
            return "no decodable part";
        case StartStatus::ThreadFailed:
            return "cannot start the worker";
    }
    return "unknown";
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Names every part inside the destination directory: a name from the message is reduced
// to a safe base name, a nameless part gets "partN" with an extension for its type, and a
// name already taken gets "-2", "-3", ... before its extension.
class DecodeHost final : public qrmime::QRMIMEEvents {
  public:
    explicit DecodeHost(std::string directory) : m_directory(std::move(directory)) {
        if (m_directory.empty()) m_directory = ".";
        if (m_directory.back() != '/') m_directory += '/';
    }

    void DecodingFile(std::string& fileName, const std::string& contentType,
                      const std::string&) override {
        ++m_offered;
        std::string base;
        if (!fileName.empty()) {
            base = qrmime::SafeBaseName(fileName);
        } else {
            std::string upper = contentType;
            for (char& c : upper)
                if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            const char* ext = upper.rfind("TEXT/PLAIN", 0) == 0  ? ".txt"
                              : upper.rfind("TEXT/HTML", 0) == 0 ? ".html"
                                                                 : ".bin";
            base = "part" + std::to_string(m_offered) + ext;
        }
        fileName = Unique(base);
    }

    void DecodingFinished(std::int16_t error) override {
        std::string path = m_finished < m_named.size() ? m_named[m_finished] : "(unnamed)";
        ++m_finished;
        if (error == qrmime::MIME_DECODE_SUCCESS) {
            std::printf("%s\n", path.c_str());
        } else {
            std::fprintf(stderr, "qrmime: could not write %s\n", path.c_str());
            m_failed = true;
        }
    }

    bool Failed() const { return m_failed; }

  private:
    std::string Unique(const std::string& base) {
        std::size_t dot = base.rfind('.');
        if (dot == 0 || dot == std::string::npos) dot = base.size();
        std::string path = m_directory + base;
        for (int n = 2; Exists(path) || m_used.count(path); ++n)
            path = m_directory + base.substr(0, dot) + "-" + std::to_string(n) + base.substr(dot);
        m_used.insert(path);
        m_named.push_back(path);
        return path;
    }

    std::string m_directory;
    std::set<std::string> m_used;
    std::vector<std::string> m_named;
    std::size_t m_offered = 0;
    std::size_t m_finished = 0;
    bool m_failed = false;
};

class EncodeHost final : public qrmime::QRMIMEEvents {
  public:
    void EncodingFinished(std::int16_t error) override { m_error = error; }
    std::int16_t m_error = qrmime::MIME_ENCODE_FAILURE;
};

int Decode(const std::string& file, const std::string& directory) {
    qrmime::QRMIMECtrl ctrl;
    DecodeHost host(directory);
    ctrl.SetEvents(&host);
    ctrl.SetSourceFilename(file);
    bool started = ctrl.MIMEDecode();
    for (const auto& note : ctrl.LastScanNotes())
        std::fprintf(stderr, "qrmime: %s: offset %llu: %s\n", file.c_str(),
                     static_cast<unsigned long long>(note.offset), note.text.c_str());
    if (!started) {
        std::fprintf(stderr, "qrmime: %s: %s\n", file.c_str(), StatusText(ctrl.LastStartStatus()));
        return 1;
    }
    ctrl.WaitUntilIdle(kOperationLimit);
    return host.Failed() ? 1 : 0;
}

int Encode(const std::string& file, const std::string& out, const std::string& type) {
    qrmime::QRMIMECtrl ctrl;
    EncodeHost host;
    ctrl.SetEvents(&host);
    ctrl.SetSourceFilename(file);
    ctrl.SetDestinationFilename(out);
    if (!type.empty()) ctrl.SetContentType(type);
    if (!ctrl.MIMEEncode()) {
        std::fprintf(stderr, "qrmime: %s: %s\n", file.c_str(), StatusText(ctrl.LastStartStatus()));
        return 1;
    }
    ctrl.WaitUntilIdle(kOperationLimit);
    if (host.m_error != qrmime::MIME_ENCODE_SUCCESS) {
        std::fprintf(stderr, "qrmime: could not encode %s to %s\n", file.c_str(), out.c_str());
        return 1;
    }
    return 0;
}

const char* EncodingName(qrmime::TransferEncoding encoding) {
    switch (encoding) {
        case qrmime::TransferEncoding::SevenBit:
            return "copy";
        case qrmime::TransferEncoding::Base64:
            return "base64";
        case qrmime::TransferEncoding::QuotedPrintable:
            return "quoted-printable";
    }
    return "?";
}

int Parts(const std::string& file) {
    qrmime::ScanResult scan = qrmime::ScanEntity(file);
    for (const auto& note : scan.notes)
        std::printf("note at %llu: %s\n", static_cast<unsigned long long>(note.offset),
                    note.text.c_str());
    if (scan.status != qrmime::ScanStatus::Ok) {
        std::fprintf(stderr, "qrmime: %s: not decodable (status %d)\n", file.c_str(),
                     static_cast<int>(scan.status));
        return 1;
    }
    std::printf("%s entity, %zu part(s)\n", scan.multipart ? "multipart" : "single-part",
                scan.parts.size());
    int n = 0;
    for (const auto& part : scan.parts) {
        std::printf("%d: body %llu-%llu type \"%s\" encoding \"%s\" (%s) name \"%s\"\n", ++n,
                    static_cast<unsigned long long>(part.bodyStart),
                    static_cast<unsigned long long>(part.bodyEnd), part.contentType.c_str(),
                    part.encodingText.c_str(),
                    part.decodable ? EncodingName(part.encoding) : "skipped",
                    part.fileName.c_str());
    }
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: qrmime decode FILE [DIR]\n"
                 "       qrmime encode FILE OUT [TYPE]\n"
                 "       qrmime parts FILE\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return Usage();
    const std::string& command = args[0];
    if (command == "decode" && (args.size() == 2 || args.size() == 3))
        return Decode(args[1], args.size() == 3 ? args[2] : ".");
    if (command == "encode" && (args.size() == 3 || args.size() == 4))
        return Encode(args[1], args[2], args.size() == 4 ? args[3] : "");
    if (command == "parts" && args.size() == 2) return Parts(args[1]);
    return Usage();
}
