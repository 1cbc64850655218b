// The trial of a template against the real run: the same lines for the same template and
// messages, and nothing of the run's files, the template file, the mailbox, the logs or the
// process's run state changed by the trial.

#include "engine/template_trial.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <thread>

#include "engine/engine_run.h"
#include "engine/mime_host.h"
#include "engine/run_context.h"
#include "model/template.h"
#include "settings/logs.h"
#include "settings/scratch_dir.h"
#include "settings/settings_store.h"
#include "sources/mail_source.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_env.h"

namespace tallix::engine {
namespace {

namespace fs = std::filesystem;
using tallix::testing::ReadFileBytes;
using tallix::testing::WriteFileBytes;

std::string ExamplesDir() {
    return std::string(std::getenv("TALLIX_TEST_DATA")) + "/../../examples";
}

// A file's bytes and modification time, or "absent".
struct Snapshot {
    bool exists = false;
    std::string bytes;
    struct timespec mtime {};
    bool operator==(const Snapshot& o) const {
        return exists == o.exists && bytes == o.bytes && mtime.tv_sec == o.mtime.tv_sec &&
               mtime.tv_nsec == o.mtime.tv_nsec;
    }
};
Snapshot Take(const std::string& path) {
    Snapshot s;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return s;
    s.exists = true;
    s.bytes = ReadFileBytes(path);
    s.mtime = st.st_mtim;
    return s;
}
std::map<std::string, Snapshot> TakeAll(const std::vector<std::string>& paths) {
    std::map<std::string, Snapshot> all;
    for (const auto& p : paths) all[p] = Take(p);
    return all;
}

class CurrentDir {
  public:
    explicit CurrentDir(const std::string& dir) : m_old(fs::current_path()) {
        fs::current_path(dir);
    }
    ~CurrentDir() { fs::current_path(m_old); }

  private:
    fs::path m_old;
};

struct TrialRun {
    std::vector<TrialMessage> messages;
    TrialSummary summary;
    std::vector<std::string> lines;
};

TrialRun Try(const clsTemplate& tpl, const std::string& mailbox) {
    TrialRun r;
    std::string problem;
    auto source = OpenMessageFile(mailbox, Settings(), MimeHost(), problem);
    EXPECT_TRUE(source) << problem;
    if (!source) return r;
    r.summary = TrySource(Settings(), tpl, *source, [&](const TrialMessage& m, std::int32_t) {
        r.messages.push_back(m);
        if (m.written) r.lines.push_back(m.outputLine);
        return true;
    });
    return r;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string s;
    for (const auto& l : lines) s += l + "\r\n";
    return s;
}

class TemplateTrialTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetSettings();
        templates = env.ProgramDir() + "/templates";
        out = env.ProgramDir() + "/out";
        fs::create_directories(templates);
        fs::create_directories(out);
        for (const auto& e : fs::directory_iterator(ExamplesDir()))
            if (e.path().extension() == ".txf")
                fs::copy_file(e.path(), templates + "/" + e.path().filename().string(),
                              fs::copy_options::overwrite_existing);
        mailbox = env.ProgramDir() + "/inbox.mbox";
        fs::copy_file(ExamplesDir() + "/sample-inbox.mbox", mailbox,
                      fs::copy_options::overwrite_existing);
        Settings().templateDir = templates;
        Settings().useSource = kSourceNetscape;
        Settings().localFileName = mailbox;
    }
    void UseScripts(const std::string& language, const std::string& dir) {
        Settings().useScripts = true;
        Settings().scriptEngine = language;
        Settings().scriptDir = ExamplesDir() + "/scripts/" + dir;
    }
    // The engine's run over the configured source, as start-up makes it.
    void RealRun(const std::string& selection) {
        RunContext run(Settings());
        run.decoder = &MimeHost();
        RunSources(run, selection);
    }
    clsTemplate Load(const std::string& name) {
        clsTemplate tpl;
        tpl.SetFileName(templates + "/" + name + ".txf");
        tpl.ReadTemplate();
        return tpl;
    }

    tallix::testing::IsolatedEnvironment env;
    tallix::testing::ScriptedUi ui;
    std::string templates, out, mailbox;
};

// Every example template, with and without scripts (the scripts of OrderSizes write a file of
// their own in a run): the trial first, twice, then the real run.
TEST_F(TemplateTrialTest, LinesEqualTheRealRunAndNothingChanges) {
    struct Case {
        std::string name, output, language, scriptDir, sideFile;
    };
    const std::vector<Case> cases = {
        {"Orders", "orders.csv", "", "", ""},
        {"ContactForm", "contacts.txt", "", "", ""},
        {"NewsletterSignup", "signups.csv", "", "", ""},
        {"SupportTickets", "support.csv", "", "", ""},
        {"OrderSizes", "order-sizes.csv", "JavaScript", "javascript", "large-orders.txt"},
        {"OrderSizes", "order-sizes.csv", "Lua", "lua", "large-orders.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + " " + c.language);
        SetUp();
        if (!c.language.empty()) UseScripts(c.language, c.scriptDir);
        CurrentDir here(out);
        const std::string outputPath = out + "/" + c.output;

        // Learn the lines over a missing output file, then seed the file with one of them and a
        // line without its end, so the duplicate check has something to find.
        TrialRun first = Try(Load(c.name), mailbox);
        ASSERT_FALSE(first.lines.empty());
        EXPECT_FALSE(fs::exists(outputPath)) << "the trial created the output file";
        WriteFileBytes(outputPath, "earlier line\r\n" + first.lines.back() + "\r\n");

        const std::string templateFile = templates + "/" + c.name + ".txf";
        const std::vector<std::string> watched = {outputPath,
                                                  templateFile,
                                                  mailbox,
                                                  out + "/" + c.sideFile,
                                                  env.ProgramDir() + "/" + std::string(kSystemLog),
                                                  env.ProgramDir() + "/" + std::string(kErrorLog)};
        const auto before = TakeAll(watched);
        TrialRun trial = Try(Load(c.name), mailbox);
        EXPECT_EQ(TakeAll(watched), before) << "the trial changed a file";
        EXPECT_TRUE(ui.boxes.empty());
        EXPECT_EQ(trial.summary.messages, 30);
        EXPECT_TRUE(trial.summary.connected);
        if (c.name == "Orders")
            EXPECT_EQ(trial.lines.size() + 1, first.lines.size()) << "duplicate not held back";
        if (!c.sideFile.empty()) {
            bool noted = false;
            for (const auto& m : trial.messages) noted |= !m.withheld.empty();
            EXPECT_TRUE(noted) << "the script's file write was not noted";
        }

        // The real run over the same messages appends exactly the trial's lines.
        const std::string seeded = ReadFileBytes(outputPath);
        RealRun(c.name);
        EXPECT_EQ(ReadFileBytes(outputPath), seeded + Joined(trial.lines));
        if (!c.sideFile.empty()) EXPECT_TRUE(fs::exists(out + "/" + c.sideFile));
        if (!c.sideFile.empty()) fs::remove(out + "/" + c.sideFile);
        fs::remove(outputPath);
    }
}

// A trial on one thread and a run on another share nothing: each gives the lines it gives
// alone, attachments decoded by each one's own MIME host into its own scratch files
// (ThreadSanitizer watches this test for races).
TEST_F(TemplateTrialTest, TrialBesideARunSharesNothing) {
    CurrentDir here(out);
    clsTemplate tpl = Load("NewsletterSignup");  // its values come from attachments
    tpl.SetOutputFile(out + "/never-written.csv");
    const TrialRun alone = Try(tpl, mailbox);
    ASSERT_FALSE(alone.lines.empty());
    const std::string outputPath = out + "/signups.csv";
    const SettingsState settings = Settings();

    constexpr int kTurns = 3;
    std::vector<std::string> trialLines[kTurns];
    std::thread trialThread([&] {
        ScratchScope scratch;
        EngineMimeHost decoder;
        for (auto& lines : trialLines) {
            std::string problem;
            auto source = OpenMessageFile(mailbox, settings, decoder, problem);
            if (!source) return;
            TrySource(settings, tpl, *source, [&](const TrialMessage& m, std::int32_t) {
                if (m.written) lines.push_back(m.outputLine);
                return true;
            });
        }
    });
    for (int turn = 0; turn < kTurns; ++turn) {
        fs::remove(outputPath);
        RealRun("NewsletterSignup");
        EXPECT_EQ(ReadFileBytes(outputPath), Joined(alone.lines)) << "turn " << turn;
    }
    trialThread.join();
    for (const auto& lines : trialLines) EXPECT_EQ(lines, alone.lines);
    EXPECT_TRUE(ui.boxes.empty());
}

// The template in memory is tried, not its file: an unsaved change counts, the file does not.
TEST_F(TemplateTrialTest, TriesTheTemplateInMemory) {
    CurrentDir here(out);
    clsTemplate tpl = Load("Orders");
    tpl.colFields()->Item(1)->SetFindStart("Customer:");
    TrialRun trial = Try(tpl, mailbox);
    ASSERT_FALSE(trial.messages.empty());
    const TrialMessage& m = trial.messages.front();
    ASSERT_TRUE(m.matched);
    EXPECT_EQ(m.variables.at(0).name, "OrderNo");
    EXPECT_EQ(m.variables.at(0).value, "Ann Smith");
    // Where each value was cut from: the found text of the body is the value.
    bool sawOrderNo = false;
    for (const FoundText& f : m.found) {
        if (f.variable != 1) continue;
        sawOrderNo = true;
        EXPECT_EQ(f.field, "MSG_TEXT");
        EXPECT_NE(m.body.substr(f.start, f.length).find("Ann Smith"), std::string::npos);
    }
    EXPECT_TRUE(sawOrderNo);
}

// What a run would report goes with the message, not to the log or a box.
TEST_F(TemplateTrialTest, ReportsAreCollected) {
    CurrentDir here(out);
    clsTemplate tpl = Load("Orders");
    tpl.SetOutputFile(out + "/no-such-dir/orders.csv");
    TrialRun trial = Try(tpl, mailbox);
    ASSERT_FALSE(trial.messages.empty());
    EXPECT_TRUE(trial.lines.empty());
    const TrialMessage& m = trial.messages.front();
    EXPECT_TRUE(m.failed);
    ASSERT_FALSE(m.reports.empty());
    EXPECT_NE(m.reports.front().find("Invalid Output file defined."), std::string::npos);
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_FALSE(fs::exists(env.ProgramDir() + "/" + std::string(kErrorLog)));
    EXPECT_FALSE(fs::exists(out + "/no-such-dir"));
}

// The trial's duplicate check: the real file as read, plus the trial's own lines, read as a
// run reads the file after appending to it.
TEST_F(TemplateTrialTest, TrialOutputDuplicateCheck) {
    struct Case {
        const char* name;
        bool fileExists;
        std::string content;
        std::vector<std::string> appended;
        std::vector<std::pair<std::string, bool>> asked;
    };
    const std::vector<Case> cases = {
        {"missing file", false, "", {"a"}, {{"a", true}, {"b", false}}},
        {"lines", true, "a\r\n b \r\n", {}, {{"a", true}, {"b", true}, {"c", false}}},
        {"open last line", true, "x", {"y"}, {{"xy", true}, {"y", false}, {"x", false}}},
        {"lone CR at the end", true, "x\r", {"y"}, {{"x", true}, {"y", true}}},
        {"lone LF inside a line", true, "p\nq\r\n", {}, {{"p\nq", true}, {"p", false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = out + "/dup.csv";
        fs::remove(path);
        if (c.fileExists) WriteFileBytes(path, c.content);
        const Snapshot before = Take(path);
        TrialOutput output;
        for (const auto& line : c.appended) EXPECT_EQ(output.Append(path, line), 0);
        for (const auto& [line, expected] : c.asked) {
            bool found = !expected;
            EXPECT_EQ(output.HoldsLine(path, line, found), 0);
            EXPECT_EQ(found, expected) << line;
        }
        EXPECT_TRUE(Take(path) == before);
        EXPECT_EQ(output.Lines().size(), c.appended.size());
    }
    TrialOutput output;
    EXPECT_EQ(output.Open(out), EISDIR);
    EXPECT_EQ(output.Open(out + "/missing/x.csv"), ENOENT);
    EXPECT_EQ(output.Open(out + "/new.csv"), 0);
    EXPECT_FALSE(fs::exists(out + "/new.csv"));
}

TEST_F(TemplateTrialTest, MessageFiles) {
    CurrentDir here(out);
    const std::string eml = out + "/one.eml";
    WriteFileBytes(eml,
                   "From: Shop <orders@shop.example>\nSubject: Order confirmation 99\n\n"
                   "Order number: 99\nCustomer: Zoe\nItem: Hat\nTotal: 5.00 EUR\n");
    int error = 0;
    EXPECT_EQ(DetectMessageFile(eml, error), MessageFileKind::Message);
    EXPECT_EQ(DetectMessageFile(mailbox, error), MessageFileKind::Mailbox);
    EXPECT_EQ(DetectMessageFile(out, error), MessageFileKind::Unreadable);
    EXPECT_EQ(error, EISDIR);
    EXPECT_EQ(DetectMessageFile(out + "/none", error), MessageFileKind::Unreadable);
    EXPECT_EQ(error, ENOENT);

    const Snapshot before = Take(eml);
    TrialRun trial = Try(Load("Orders"), eml);
    ASSERT_EQ(trial.messages.size(), 1u);
    EXPECT_EQ(trial.messages[0].subject, "Order confirmation 99");
    ASSERT_EQ(trial.lines.size(), 1u);
    EXPECT_EQ(trial.lines[0].substr(0, 3), "99,");
    EXPECT_NE(trial.lines[0].find("\"Zoe\",\"Hat\",5.00"), std::string::npos);
    EXPECT_TRUE(Take(eml) == before);

    std::string problem;
    EXPECT_EQ(OpenMessageFile(out + "/none", Settings(), MimeHost(), problem), nullptr);
    EXPECT_FALSE(problem.empty());

    // A standard mbox file: two messages, the second's body with a quoted "From " line.
    const std::string mbox = out + "/standard.mbox";
    WriteFileBytes(
        mbox,
        "From ann@example.org Mon Mar  1 08:00:00 2026\nSubject: Order confirmation 7\n\n"
        "Order number: 7\nCustomer: Ann\n\n"
        "From bob@example.org Mon Mar  1 09:00:00 2026\nSubject: Order confirmation 8\n\n"
        "Order number: 8\n>From the shop\nCustomer: Bob\n");
    EXPECT_EQ(DetectMessageFile(mbox, error), MessageFileKind::Mbox);
    TrialRun standard = Try(Load("Orders"), mbox);
    ASSERT_EQ(standard.messages.size(), 2u);
    EXPECT_EQ(standard.messages[1].subject, "Order confirmation 8");
    ASSERT_EQ(standard.lines.size(), 2u);
    EXPECT_EQ(standard.lines[0].substr(0, 2), "7,");
    EXPECT_EQ(standard.lines[1].substr(0, 2), "8,");
    // With the Eudora format configured, "From " and a sender starts a Eudora mailbox.
    Settings().useSource = kSourceEudora;
    TrialRun eudora =
        Try(Load("Orders"), std::string(std::getenv("TALLIX_TEST_DATA")) + "/e2e/eudora.mbx");
    ASSERT_EQ(eudora.messages.size(), 2u);
    EXPECT_EQ(eudora.messages[0].subject, "Order 21");
    EXPECT_EQ(eudora.messages[1].subject, "Order 22");
}

TEST(VisibleTextTest, ControlCharactersShown) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain", "plain"},
        {"a\r\nb", "a\\r\\nb"},
        {"tab\there", "tab\\there"},
        {std::string("nul\0x", 5), "nul\\x00x"},
        {"\x7f\x1b", "\\x7F\\x1B"},
        {"back\\slash", "back\\\\slash"},
        {"caf\xc3\xa9", "caf\xc3\xa9"},
    };
    for (const auto& [in, want] : cases) EXPECT_EQ(VisibleText(in), want);
}

}  // namespace
}  // namespace tallix::engine
