// Runs of Update.exe long enough for the progress window: the stand-in shows
// it as a line on standard error that is rewritten in place, made slow by
// UPDATE_STANDIN_COPY_DELAY_MS and pressed by UPDATE_STANDIN_PRESS.
#include "update_run.h"

namespace {

// The window's line, each state of it, and what came after it.
struct Shown {
    std::vector<std::string> states;
    std::string after;
};

Shown SplitProgress(const std::string& error) {
    Shown shown;
    if (error.empty() || error[0] != '\r') {
        shown.after = error;
        return shown;
    }
    const std::size_t end = error.find('\n');
    std::stringstream line(error.substr(1, end - 1));
    for (std::string state; std::getline(line, state, '\r');)
        shown.states.push_back(state);
    shown.after = AfterProgressLine(error);
    return shown;
}

int PercentOf(const std::string& state) {
    const std::size_t sign = state.rfind(" %");
    const std::size_t start = state.rfind(' ', sign - 1);
    return std::stoi(state.substr(start + 1, sign - start - 1));
}

class ProgressRun : public UpdateRun {
  protected:
    // Long: 6 chunks of a MiB at a quarter second each.
    void LongPackage() {
        Installed();
        WriteAll(package_ / "a.txt", "a");
        WriteAll(package_ / "Data" / "big.dat", std::string(6 << 20, 'n'));
        environment_ = "UPDATE_STANDIN_COPY_DELAY_MS=250";
    }
};

TEST_F(ProgressRun, LongUpdateShowsTheBarGrowingToTheEndThenTheBox) {
    LongPackage();
    const RunResult run = Run(true);
    const Shown shown = SplitProgress(run.messageBox);
    EXPECT_EQ(shown.after, kDone2);
    ASSERT_GE(shown.states.size(), 2u) << run.messageBox;
    int last = 0;
    for (const std::string& state : shown.states) {
        EXPECT_EQ(state.rfind("Brenvolt-Update: Wird kopiert: ", 0), 0u) << state;
        EXPECT_NE(state.find("[Abbrechen]"), std::string::npos) << state;
        EXPECT_GE(PercentOf(state), last) << state;
        last = PercentOf(state);
    }
    EXPECT_NE(shown.states.front().find("Data\\big.dat"), std::string::npos);
    EXPECT_LT(PercentOf(shown.states.front()), 100);
    EXPECT_EQ(last, 100);
    EXPECT_EQ(ReadAll(install_ / "Data" / "big.dat").size(), std::size_t(6 << 20));
    EXPECT_EQ(run.notes, NotesStarted());

    // A silent run shows nothing, however long it takes.
    fs::remove_all(install_ / "Data");
    const RunResult silent = Run(false, {"/S"});
    EXPECT_EQ(silent.exitCode, 0);
    EXPECT_EQ(silent.messageBox, "");
    EXPECT_EQ(ReadAll(install_ / "Data" / "big.dat").size(), std::size_t(6 << 20));
}

} // namespace

namespace {

const char kCancelled[] =
    "Info: Das Update wurde abgebrochen.\nDie Installation ist unver\xC3\xA4ndert.\n";

// A cancel by any of the three ways, in the middle of many files or of one
// large one, undoes the run: every installed file old, nothing new, no
// temporary file, and the box says so. One that comes once the update is in
// (the bar reaches 100 % only then) changes nothing: the run is installed.
TEST_F(ProgressRun, CancelLeavesTheInstallationAsItWas) {
    struct Case {
        const char* press;
        bool manyFiles; // else one large file
        bool installed;
    } cases[] = {{"Abbrechen@50", true, false},
                 {"Escape@40", false, false},
                 {"Close@40", false, false},
                 {"Abbrechen@100", false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.press);
        fs::remove_all(package_ / "Data");
        fs::remove_all(install_ / "Data");
        Installed();
        WriteAll(install_ / "a.txt", "old a");
        WriteAll(install_ / "Data" / "big.dat", "old big");
        WriteAll(package_ / "a.txt", "new a");
        if (c.manyFiles) {
            for (int i = 0; i < 20; ++i)
                WriteAll(package_ / "Data" / ("f" + std::to_string(i) + ".dat"),
                         std::string(256 << 10, 'n'));
            environment_ = "UPDATE_STANDIN_COPY_DELAY_MS=100";
        } else {
            WriteAll(package_ / "Data" / "big.dat", std::string(8 << 20, 'n'));
            environment_ = "UPDATE_STANDIN_COPY_DELAY_MS=200";
        }
        environment_ += std::string(" UPDATE_STANDIN_PRESS=") + c.press;
        const RunResult run = Run(c.installed);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(AfterProgressLine(run.messageBox), c.installed ? kDone2 : kCancelled)
            << run.messageBox;
        EXPECT_NE(run.messageBox, kCancelled); // the window was there to press
        // The program took the press from its queue, at 100 % only once
        // every file was in.
        const std::string pressed =
            std::string(c.installed ? "100" : "") +
            " % [Abbrechen] (pressed: " + std::string(c.press, std::strchr(c.press, '@')) + ")";
        EXPECT_NE(run.messageBox.find(pressed), std::string::npos) << run.messageBox;
        // Heard at once, within a large file too: the bar moves once more at
        // most (past the file given up), not on with every chunk of it.
        int statesPressed = 0;
        for (const std::string& state : SplitProgress(run.messageBox).states)
            statesPressed += state.find("(pressed: ") != std::string::npos;
        EXPECT_LE(statesPressed, 2) << run.messageBox;
        EXPECT_EQ(run.notes, c.installed ? NotesStarted() : "");
        EXPECT_EQ(ReadAll(install_ / "a.txt"), c.installed ? "new a" : "old a");
        const std::string big = ReadAll(install_ / "Data" / "big.dat");
        EXPECT_TRUE(c.installed ? big == std::string(8 << 20, 'n') : big == "old big");
        EXPECT_FALSE(fs::exists(install_ / "Data" / "f0.dat"));
        EXPECT_EQ(TemporaryFiles(install_) + TemporaryFiles(install_ / "Data"), "");
    }
}

} // namespace
