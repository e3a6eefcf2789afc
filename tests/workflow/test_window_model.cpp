// The window's workflow without any toolkit: a scripted view clicks through it
// as a person would, on real clips, real ffmpeg and real files.
#include <deque>
#include <map>
#include <optional>

#include "common/TempFolder.h"
#include "extract/Extraction.h"
#include "platform/Disk.h"
#include "platform/FileMove.h"
#include "support/CoreTest.h"
#include "workflow/FrameOptionsModel.h"
#include "workflow/PreviewModel.h"
#include "workflow/WindowLayout.h"
#include "workflow/WindowModel.h"
#include "zip/Zipper.h"

using namespace sparkloom;
using namespace sparkloom::test;

namespace {

// Paths as the platform's dialogs give them: backslashes on Windows.
std::string Native(const fs::path& path) {
    return Utf8Of(fs::path(path).make_preferred());
}

// Keeps what the workflow shows and answers its dialogs from queues.
class ScriptedView : public WindowView {
public:
    struct Message {
        std::string text;
        MessageIcon icon;
        MessageButtons buttons;
    };
    std::map<WindowControl, std::string> texts;
    std::map<WindowControl, bool> enabled;
    std::map<WindowControl, std::vector<std::string>> items;
    std::deque<std::string> fileAnswers, folderAnswers;
    std::deque<MessageAnswer> messageAnswers;
    std::vector<Message> messages;
    std::vector<FileRequest> fileRequests;
    std::string remembered;
    std::optional<int> pendingTick;
    int progress = -1;
    bool closed = false;
    // Stands for the clicks and keys a pump would deliver.
    std::function<void(bool withUserInput)> onPump;
    std::function<void(const std::string&)> onMessage;  // before the answer

    ScriptedView() {
        for (const ControlLayout& layout : kWindowLayout) {
            for (int c = 0; c <= static_cast<int>(WindowControl::ProgressBar1); ++c) {
                if (NameOf(static_cast<WindowControl>(c)) == layout.name) {
                    enabled[static_cast<WindowControl>(c)] = layout.enabled;
                }
            }
        }
    }
    std::string Text(WindowControl control) const override {
        const auto found = texts.find(control);
        return found == texts.end() ? std::string() : found->second;
    }
    void SetText(WindowControl control, const std::string& text) override { texts[control] = text; }
    bool Enabled(WindowControl control) const override { return enabled.at(control); }
    void SetEnabled(WindowControl control, bool on) override { enabled[control] = on; }
    void SetVisible(WindowControl, bool) override {}
    void SetItems(WindowControl control, const std::vector<std::string>& list) override {
        items[control] = list;
    }
    void SetProgress(int percent) override { progress = percent; }
    void RepaintStatus() override {}
    std::string ChooseFile(const FileRequest& request) override {
        fileRequests.push_back(request);
        return Next(fileAnswers);
    }
    std::string BrowseForFolder(const std::string&, const std::string&) override {
        return Next(folderAnswers);
    }
    MessageAnswer ShowMessage(const std::string& text, MessageIcon icon,
                              MessageButtons buttons) override {
        messages.push_back({text, icon, buttons});
        if (onMessage) {
            onMessage(text);
        }
        if (messageAnswers.empty()) {
            return MessageAnswer::Ok;
        }
        const MessageAnswer answer = messageAnswers.front();
        messageAnswers.pop_front();
        return answer;
    }
    bool OpenUrl(const std::string&) override { return true; }
    std::string RememberedFolder() override { return remembered; }
    void RememberFolder(const std::string& folder) override { remembered = folder; }
    void StartTicks(int milliseconds) override { pendingTick = milliseconds; }
    void PumpEvents(bool withUserInput) override {
        if (onPump) {
            onPump(withUserInput);
        }
    }
    void CloseWindow() override { closed = true; }
    std::map<std::string, std::string> settings;
    std::string RememberedSetting(const std::string& name) override { return settings[name]; }
    void RememberSetting(const std::string& name, const std::string& value) override {
        settings[name] = value;
    }
    std::function<void(PreviewModel&)> previewDialog;
    void ShowPreviewDialog(PreviewModel& dialog) override { previewDialog(dialog); }
    std::function<void(FrameOptionsModel&)> framesDialog;
    void ShowFramesDialog(FrameOptionsModel& dialog) override {
        if (framesDialog) {
            framesDialog(dialog);
        }
    }

    // The timer's part: ticks until the package is done; false if it never ends.
    bool RunTicks(WindowModel& model, const std::function<void()>& eachTick = {}) {
        for (int tick = 0; tick < 100000 && pendingTick; ++tick) {
            CHECK(*pendingTick == 16);
            pendingTick.reset();
            if (eachTick) {
                eachTick();
            }
            model.Tick();
        }
        return !pendingTick && !model.ArchiveBuilder().Zipping();
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> shown;
        for (const Message& m : messages) {
            shown.push_back(m.text);
        }
        return shown;
    }

private:
    static std::string Next(std::deque<std::string>& answers) {
        if (answers.empty()) {
            return {};
        }
        std::string answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

std::vector<std::string> EntryNames(const std::string& package) {
    std::vector<ArchiveEntry> entries;
    std::vector<std::string> names;
    if (ReadArchive(package, entries)) {
        for (const ArchiveEntry& entry : entries) {
            names.push_back(entry.rawName);
        }
    }
    return names;
}

// The names in a folder, sorted: a leftover temporary shows here.
std::vector<std::string> EntriesOf(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(P(folder), error)) {
        names.push_back(Utf8Of(entry.path().filename()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool Holds(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Every step before the build done: a video's folder, one extracted frame of
// the particle "Spark" in frames, a thumbnail, a type and a category.
void ReadyToBuild(ScriptedView& view, WindowModel& model, const fs::path& project,
                  const fs::path& frames) {
    model.StartUp();
    model.Project().ProjectFolder = Native(project);
    model.Project().ExtractFolder = Native(frames);
    model.Project().FrameCount = 1;
    view.texts[WindowControl::txtParticleName] = "Spark";
    view.texts[WindowControl::txtJPGThumb] = "Thumb.jpg";
    view.texts[WindowControl::txtAnimImage] = "Spark_00001.jpg";
    view.texts[WindowControl::cboType] = "PRESET";
    view.texts[WindowControl::cboCat] = "General";
}

}  // namespace

TEST_CASE("a person's whole road through the workflow, with the enabling at each step") {
    TempDir root;
    const fs::path clips = root.Path() / "My Clips";
    const fs::path frames = root.Path() / "frames";
    const fs::path out = root.Path() / "out.v2";  // its "." is no extension
    REQUIRE(MakeFolder(Utf8Of(clips)));
    REQUIRE(MakeFolder(Utf8Of(frames)));
    REQUIRE(MakeFolder(Utf8Of(out)));
    REQUIRE(MakeClip(Utf8Of(clips / "Fire Ball.mp4")));

    ScriptedView view;
    WindowModel model(view);
    model.StartUp();
    CHECK(view.items[WindowControl::cboType] == std::vector<std::string>{"CUSTOM", "PRESET"});
    CHECK(view.items[WindowControl::cboCat] ==
          std::vector<std::string>{"Kelvane", "General", "Sports"});
    CHECK(view.Text(WindowControl::cboType) == "Select");
    CHECK(view.Text(WindowControl::txtStatus) ==
          "For FREE Templates pay us a visit by clicking on our banner :)");
    CHECK(model.Project().MaxFiles == 2000);
    for (const WindowControl later : {WindowControl::cmdExtract, WindowControl::cmdThumb,
                                      WindowControl::cmdAnimImage, WindowControl::cmdDZP}) {
        CHECK_FALSE(view.Enabled(later));
    }

    view.fileAnswers = {Native(clips / "Fire Ball.mp4")};
    model.cmdProjectFile_Click();
    CHECK(view.Text(WindowControl::txtVideoFile) == "Fire Ball.mp4");
    CHECK(view.Text(WindowControl::txtParticleName) == "Fire Ball");
    CHECK(model.Project().ProjectFolder == Native(clips));
    CHECK(view.Enabled(WindowControl::cmdExtract));

    // The video's own folder is refused, and that alone enables the build.
    view.folderAnswers = {Native(clips)};
    model.cmdExtract_Click();
    CHECK(view.Texts() == std::vector<std::string>{"You cannot Extract in the Project Folder!\r\n"
                                                   "Please Choose Another Destination Folder"});
    CHECK(view.Enabled(WindowControl::cmdDZP));
    CHECK(view.Text(WindowControl::txtExtractPath).empty());
    view.messages.clear();

    // So is a folder Windows would take for a device, before anything is written.
    view.folderAnswers = {Native(root.Path() / "lpt1.frames")};
    model.cmdExtract_Click();
    CHECK(view.Texts() == std::vector<std::string>{Native(root.Path() / "lpt1.frames") +
                                                   " cannot be used: Windows keeps the name lpt1 "
                                                   "for a device."});
    CHECK(view.Text(WindowControl::txtExtractPath).empty());
    CHECK_FALSE(Exists(Utf8Of(root.Path() / "lpt1.frames")));
    view.messages.clear();

    view.folderAnswers = {Native(frames)};
    model.cmdExtract_Click();
    CHECK(view.Texts() == std::vector<std::string>{"Extracting Video. Please be patient!"});
    REQUIRE(model.Project().FrameCount == 30);
    CHECK(model.Project().AnimationDuration == 1000);
    CHECK(view.remembered == Native(clips));
    CHECK(view.progress == 100);
    CHECK(view.Enabled(WindowControl::cmdThumb));
    CHECK(view.Enabled(WindowControl::cmdAnimImage));
    view.messages.clear();

    view.fileAnswers = {Native(frames / "Fire_Ball_00007.jpg"),
                        Native(frames / "Fire_Ball_00001.jpg")};
    model.cmdThumb_Click();
    model.cmdAnimImage_Click();
    CHECK(view.Text(WindowControl::txtJPGThumb) == "Fire_Ball_00007.jpg");
    CHECK(view.Text(WindowControl::txtAnimImage) == "Fire_Ball_00001.jpg");
    CHECK(Exists(Utf8Of(frames / "Thumb.jpg")));
    view.texts[WindowControl::cboType] = "CUSTOM";
    view.texts[WindowControl::cboCat] = "Sports";

    view.fileAnswers = {Native(out / "Fire Ball")};
    model.cmdDZP_Click();
    CHECK(view.fileRequests.back().kind == FileRequest::Kind::Save);
    CHECK(view.fileRequests.back().initialFileName == "Fire Ball");
    CHECK(view.fileRequests.back().defaultExtension == "dzp");
    CHECK(model.Project().PackageFolder == Native(out));
    REQUIRE(view.pendingTick);
    CHECK(view.Enabled(WindowControl::Command3));
    bool refusedWhilePacking = false;
    REQUIRE(view.RunTicks(model, [&] {
        if (!refusedWhilePacking) {
            refusedWhilePacking = true;
            model.cmdExtract_Click();
            model.cmdDZP_Click();
        }
    }));
    const std::string busy =
        "A package is still being built.\r\nPlease wait until it is finished or cancel it first.";
    CHECK(view.Texts() == std::vector<std::string>{busy, busy, "Success!"});
    CHECK(view.Text(WindowControl::txtStatus) == "Success");
    CHECK_FALSE(view.Enabled(WindowControl::Command3));
    CHECK(view.Enabled(WindowControl::cmdDZP));

    const std::string package = Utf8Of(out / "Fire Ball.dzp");
    CHECK(UnzipTestsClean(package));
    const std::vector<std::string> names = EntryNames(package);
    CHECK_MESSAGE(names.size() == 34, Join(names, " "));
    for (const std::string name :
         {".\\TitleTemplate.xml", ".\\TitleTemplate.clt", ".\\Thumb.jpg", ".\\Thumb.png",
          ".\\Fire_Ball_00001.jpg", ".\\Fire_Ball_00030.jpg"}) {
        CHECK_MESSAGE(Holds(names, name), name);
    }
}

TEST_CASE("the build checks its inputs in order and packs nothing when one fails") {
    TempDir root;
    const fs::path project = root.Path() / "clips";
    const fs::path frames = root.Path() / "frames";
    const fs::path out = root.Path() / "out";
    for (const fs::path& folder : {project, frames, out, out / "taken.dzp"}) {
        REQUIRE(MakeFolder(Utf8Of(folder)));
    }
    const std::vector<std::string> seeded{"Spark_00001.jpg", "Thumb.jpg", "Thumb.png"};
    for (const std::string& name : seeded) {
        REQUIRE(WriteFile(Utf8Of(frames / name), name));
    }

    struct Row {
        const char* name;
        std::function<void(ScriptedView&)> change;
        std::string savedAs;  // "" = out/Spark.dzp; the picture chosen for cmdThumb
        std::string message;  // every message shown, one a line; {why} is the system's reason
        std::string click = "cmdDZP";
        bool noFrames = false;        // nothing extracted yet
        bool afterTemplates = false;  // refused once the templates are written
        bool packs = false;           // refused only once packed
    };
    std::string why;
    const std::string inProject =
        "You cannot create the Installation File in the Project Folder!\r\n"
        "Please Choose Another Destination Folder";
    const std::vector<Row> rows{
        {"no particle name", [](ScriptedView& v) { v.texts[WindowControl::txtParticleName] = ""; },
         "", "Please Enter A Particle Name!"},
        {"no thumbnail", [](ScriptedView& v) { v.texts[WindowControl::txtJPGThumb] = ""; }, "",
         "Please Select A Thumbnail!"},
        {"type still Select", [](ScriptedView& v) { v.texts[WindowControl::cboType] = "Select"; },
         "", "You must select the Type of Project!"},
        {"no category", [](ScriptedView& v) { v.texts[WindowControl::cboCat] = ""; }, "",
         "You must select a Category!"},
        {"into the video's folder", {}, Native(project / "Spark.dzp"), inProject},
        {"into the frames folder", {}, Native(frames / "Spark.dzp"), inProject},
        {"onto a folder",
         {},
         Native(out / "taken.dzp"),
         Native(out / "taken.dzp") + " is a folder; please name the package file."},
        {"ending in a separator",
         {},
         Native(out / "gone" / ""),
         Native(out / "gone" / "") + " is a folder; please name the package file."},
        {"into a missing folder",
         {},
         Native(out / "gone" / "Spark.dzp"),
         "The folder " + Native(out / "gone") + " does not exist."},
        {"named after a device",
         {},
         Native(out / "CON"),
         Native(out / "CON.dzp") + " cannot be used: Windows keeps the name CON for a device."},
        {"ending in a dot",
         {},
         Native(out / "Spark."),
         Native(out / "Spark.") +
             " cannot be used: Windows drops the dot or blank at the end of a name."},
        {"before any extraction",
         {},
         "",
         "Please extract the video into a folder first!",
         "cmdDZP",
         true},
        {"a thumbnail before any extraction",
         {},
         Native(frames / "Spark_00001.jpg"),
         "Please extract the video into a folder first!",
         "cmdThumb",
         true},
        {"a thumbnail that cannot be copied",
         {},
         Native(root.Path() / "gone.jpg"),
         "Could not copy the thumbnail to " + Native(frames / "Thumb.jpg") +
             ": No such file or directory",
         "cmdThumb"},
        {"a user's file with a name beyond the code page",
         [&](ScriptedView&) { REQUIRE(WriteFile(Utf8Of(frames / u8"\u706b.txt"), "mine")); }, "",
         "These names cannot be stored in the package (only Western European letters are "
         "possible):\r\n" +
             Native(frames / u8"\u706b.txt")},
        {"the first frame gone",
         [](ScriptedView& v) { v.texts[WindowControl::txtAnimImage] = "Spark_00009.jpg"; }, "",
         "The package would lack Spark_00009.jpg, which the host editor needs:\r\nit is not in "
         "the frames folder " +
             Native(frames) + ".",
         "cmdDZP", false, true},
        {"an old package that cannot be replaced",
         [&](ScriptedView& v) {
             REQUIRE(WriteFile(Utf8Of(out / "Old.dzp"), "old"));
             // While the question is open, a folder takes the old package's place.
             v.onMessage = [&](const std::string&) {
                 std::error_code error;
                 fs::remove(out / "Old.dzp", error);
                 fs::create_directories(out / "Old.dzp" / "kept", error);
                 // The reason the system gives for a file renamed onto that folder.
                 REQUIRE(WriteFile(Utf8Of(out / "probe"), "probe"));
                 error = platform::MoveReplacing(out / "probe", out / "Old.dzp");
                 fs::remove(out / "probe");
                 why = ReasonOf(error);
             };
         },
         Native(out / "Old.dzp"),
         "Overwrite Existing File?\nCould not save the package " + Native(out / "Old.dzp") +
             ": {why}",
         "cmdDZP", false, true, true},
    };
    for (const Row& row : rows) {
        CAPTURE(row.name);
        ScriptedView view;
        WindowModel model(view);
        ReadyToBuild(view, model, project, frames);
        if (row.change) {
            row.change(view);
        }
        if (row.noFrames) {
            model.Project().ExtractFolder.clear();
        }
        view.fileAnswers = {row.savedAs.empty() ? Native(out / "Spark.dzp") : row.savedAs};
        model.Click(row.click);
        if (row.packs) {
            CHECK(view.RunTicks(model));
        }
        CHECK(Join(view.Texts(), "\n") == ReplaceAll(row.message, "{why}", why));
        CHECK(view.messages.back().icon == MessageIcon::Warning);
        CHECK_FALSE(view.pendingTick);
        CHECK(Exists(Utf8Of(frames / "TitleTemplate.xml")) == row.afterTemplates);
        CHECK_FALSE(Exists(Utf8Of(out / "Spark.dzp")));
        for (const auto& entry : fs::directory_iterator(frames)) {
            if (!Holds(seeded, Utf8Of(entry.path().filename()))) {
                fs::remove(entry.path());
            }
        }
    }
}

// Deep project folders: a frames folder and a package of some 300 characters,
// extracted and built as a person would.
TEST_CASE("paths of 300 characters extract and build") {
    TempDir root;
    fs::path deep = root.Path();
    while (deep.native().size() < 280) {
        deep /= "a folder of a project";
    }
    const fs::path frames = deep / "frames";
    REQUIRE(MakeFolder(Utf8Of(frames)));
    REQUIRE(MakeClip(Utf8Of(root.Path() / "Long.mp4")));
    ScriptedView view;
    WindowModel model(view);
    model.StartUp();
    view.fileAnswers = {Native(root.Path() / "Long.mp4")};
    model.cmdProjectFile_Click();
    view.folderAnswers = {Native(frames)};
    model.cmdExtract_Click();
    REQUIRE_MESSAGE(model.Project().FrameCount == 30, Join(view.Texts(), " | "));
    REQUIRE(Utf8Of(frames / "Long_00030.jpg").size() >= 300);
    view.fileAnswers = {Native(frames / "Long_00001.jpg"), Native(frames / "Long_00001.jpg")};
    model.cmdThumb_Click();
    model.cmdAnimImage_Click();
    view.texts[WindowControl::cboType] = "CUSTOM";
    view.texts[WindowControl::cboCat] = "General";
    view.fileAnswers = {Native(deep / "Long")};
    model.cmdDZP_Click();
    REQUIRE(view.RunTicks(model));
    CHECK(view.Text(WindowControl::txtStatus) == "Success");
    std::vector<ArchiveEntry> entries;
    REQUIRE(ReadArchive(Utf8Of(deep / "Long.dzp"), entries));
    CHECK(entries.size() == 34);
    // Seen as there, as any path: a second build over it asks first.
    view.messages.clear();
    view.fileAnswers = {Native(deep / "Long")};
    view.messageAnswers = {MessageAnswer::Cancel};
    model.cmdDZP_Click();
    CHECK(Join(view.Texts(), "\n") == "Overwrite Existing File?");
    CHECK_FALSE(view.pendingTick);
}

TEST_CASE("Cancel, closing and the session's end stop a package, which stays a whole archive") {
    TempDir root;
    const fs::path frames = root.Path() / "frames";
    const fs::path out = root.Path() / "out";
    REQUIRE(MakeFolder(Utf8Of(frames)));
    REQUIRE(MakeFolder(Utf8Of(out)));
    REQUIRE(WriteFile(Utf8Of(frames / "Spark_00001.jpg"), "frame"));
    REQUIRE(WriteFile(Utf8Of(frames / "Thumb.jpg"), "thumb"));
    REQUIRE(WriteFile(Utf8Of(frames / "Thumb.png"), "thumb"));
    // Enough that packing takes many ticks.
    REQUIRE(WriteNoise(Utf8Of(frames / "big.bin"), 16 << 20, 3));
    const std::string package = Utf8Of(out / "Spark.dzp");
    const std::string oldBytes = "the old package, whole";

    // A stop never puts its shorter package in an old one's place.
    enum class Stop { Cancel, Closing, SessionEnd };
    for (const bool oldThere : {false, true}) {
        for (const Stop stop : {Stop::Cancel, Stop::Closing, Stop::SessionEnd}) {
            CAPTURE(oldThere);
            CAPTURE(static_cast<int>(stop));
            std::error_code ignored;
            fs::remove(PathFromUtf8(package), ignored);
            if (oldThere) {
                REQUIRE(WriteFile(package, oldBytes));
            }
            ScriptedView view;
            WindowModel model(view);
            ReadyToBuild(view, model, root.Path(), frames);
            view.fileAnswers = {Native(out / "Spark.dzp")};
            view.messageAnswers = {MessageAnswer::Ok};  // overwrite the old package
            model.cmdDZP_Click();
            const std::string shown = view.Text(WindowControl::txtStatus) + " " +
                                      (view.messages.empty() ? "" : view.messages[0].text);
            REQUIRE_MESSAGE(view.pendingTick, shown);
            CHECK(view.messages.size() == (oldThere ? 1u : 0u));
            int ticks = 0;
            while (model.ArchiveBuilder().BytesZipped() == 0 && ticks++ < 1000) {
                model.Tick();
            }
            REQUIRE(model.ArchiveBuilder().Zipping());
            // Meanwhile the package is a temporary beside it, out of sight on Windows too.
            int temporaries = 0;
            std::error_code listed;
            for (const platform::FolderEntry& entry : platform::ListFolder(out, listed)) {
                if (entry.name.starts_with(".Spark.dzp-")) {
                    ++temporaries;
#ifdef _WIN32
                    CHECK(entry.hidden);
#endif
                }
            }
            CHECK(temporaries == 1);
            view.messages.clear();
            if (stop == Stop::SessionEnd) {
                CHECK(model.SessionEnding() == "Sparkloom is building Spark.dzp");
                model.SessionEnded();
                CHECK_FALSE(model.ArchiveBuilder().Zipping());
                CHECK(model.SessionEnding().empty());
                CHECK(view.messages.empty());
            } else if (stop == Stop::Closing) {
                model.Closing();
                CHECK_FALSE(model.ArchiveBuilder().Zipping());
            } else {
                model.Command3_Click();
                CHECK(view.RunTicks(model));
                CHECK_FALSE(view.Enabled(WindowControl::Command3));
            }
            CHECK(EntriesOf(Utf8Of(out)) == std::vector<std::string>{"Spark.dzp"});
            if (oldThere) {
                CHECK(view.Text(WindowControl::txtStatus) ==
                      "Canceled; the old package " + Native(out / "Spark.dzp") + " is kept.");
                CHECK(ReadAll(package) == oldBytes);
                continue;
            }
            CHECK(view.Text(WindowControl::txtStatus) == "Canceled");
            CHECK(UnzipTestsClean(package));
            // The entry being written ends where the cancel found it.
            std::vector<ArchiveEntry> entries;
            REQUIRE(ReadArchive(package, entries));
            CHECK(entries.back().rawName == ".\\big.bin");
            CHECK(entries.back().data.size() < size_t{16} << 20);
        }
    }
}

// A second click on "Build Particle", queued while the first writes its
// templates, reaches the window only once the first run has started, and is
// refused then: never a build inside a build.
TEST_CASE("a click queued while a build prepares is refused, not a second build") {
    TempDir root;
    const fs::path frames = root.Path() / "frames";
    const fs::path out = root.Path() / "out";
    REQUIRE(MakeFolder(Utf8Of(frames)));
    REQUIRE(MakeFolder(Utf8Of(out)));
    REQUIRE(WriteFile(Utf8Of(frames / "Spark_00001.jpg"), "frame"));
    REQUIRE(WriteFile(Utf8Of(frames / "Thumb.jpg"), "thumb"));
    REQUIRE(WriteFile(Utf8Of(frames / "Thumb.png"), "thumb"));

    ScriptedView view;
    WindowModel model(view);
    ReadyToBuild(view, model, root.Path(), frames);
    int queued = 0;
    view.onPump = [&](bool withUserInput) {
        if (withUserInput) {
            model.cmdDZP_Click();  // what a pump with input would do with the click
        } else {
            ++queued;
        }
    };
    view.fileAnswers = {Native(out / "Spark.dzp"), Native(out / "Second.dzp")};
    model.cmdDZP_Click();
    view.onPump = {};
    REQUIRE(queued > 0);
    REQUIRE(view.pendingTick);
    model.cmdDZP_Click();  // the queued click, delivered after the build started
    REQUIRE(view.RunTicks(model));
    const std::string busy =
        "A package is still being built.\r\nPlease wait until it is finished or cancel it first.";
    CHECK(view.Texts() == std::vector<std::string>{busy, "Success!"});
    CHECK(view.Text(WindowControl::txtStatus) == "Success");
    CHECK(EntriesOf(Utf8Of(out)) == std::vector<std::string>{"Spark.dzp"});
    CHECK(UnzipTestsClean(Utf8Of(out / "Spark.dzp")));
}

TEST_CASE("videos named on the command line or dropped: one existing file, else a warning") {
    TempDir root;
    const fs::path clip = root.Path() / "clip one.mp4";
    REQUIRE(WriteFile(Utf8Of(clip), "not really a video"));
    const std::string notAFile = "This is not a file:\r\n";
    struct Row {
        const char* name;
        std::vector<std::string> paths;
        std::string warning;  // "" = taken
    };
    // Given with a detour through the folder, which the video's path loses.
    const std::string detour = Utf8Of(root.Path() / "sub" / ".." / "clip one.mp4");
    REQUIRE(MakeFolder(Utf8Of(root.Path() / "sub")));
    const std::vector<Row> rows{
        {"a file, by a detour", {detour}, ""},
        {"a folder", {root.Text()}, notAFile + root.Text()},
        {"a missing file", {root.File("gone.mp4")}, notAFile + root.File("gone.mp4")},
        {"an empty path", {""}, notAFile},
        {"two files", {Utf8Of(clip), Utf8Of(clip)}, "Please choose one Video at a time!"},
    };
    for (const Row& row : rows) {
        CAPTURE(row.name);
        ScriptedView view;
        WindowModel model(view);
        model.StartUp();
        const bool taken = model.OpenGivenPaths(row.paths);
        CHECK(taken == row.warning.empty());
        if (taken) {
            CHECK(view.messages.empty());
            CHECK(model.Project().VideoFile == Native(clip));
            CHECK(model.Project().ProjectFolder == Native(root.Path()));
            CHECK(view.Text(WindowControl::txtVideoFile) == "clip one.mp4");
            CHECK(view.Enabled(WindowControl::cmdExtract));
        } else {
            CHECK(view.Texts() == std::vector<std::string>{row.warning});
            CHECK(model.Project().VideoFile.empty());
            CHECK_FALSE(view.Enabled(WindowControl::cmdExtract));
        }
    }
}

namespace {

// The frames dialog as a person uses it: types into its boxes, watches the
// estimate and presses its buttons.
class ScriptedFrames : public FrameOptionsView {
public:
    std::map<FramesControl, std::string> texts;
    std::map<FramesControl, std::vector<std::string>> items;
    std::map<FramesControl, bool> enabled, red;
    std::optional<int> poll;
    std::vector<std::string> warnings;
    bool ended = false;

    std::string Text(FramesControl control) const override {
        const auto found = texts.find(control);
        return found == texts.end() ? std::string() : found->second;
    }
    void SetText(FramesControl control, const std::string& text) override { texts[control] = text; }
    void SetItems(FramesControl control, const std::vector<std::string>& list) override {
        items[control] = list;
    }
    void SetEnabled(FramesControl control, bool on) override { enabled[control] = on; }
    void SetRed(FramesControl control, bool on) override { red[control] = on; }
    void StartPolls(int milliseconds) override { poll = milliseconds; }
    void ShowWarning(const std::string& text) override { warnings.push_back(text); }
    void EndDialog() override { ended = true; }

    // Types text (when given) and waits until the estimate is whole or refused.
    bool Type(FrameOptionsModel& dialog, FramesControl control, const std::string& text) {
        if (!text.empty()) {
            texts[control] = text;
            dialog.Changed(control);
        }
        return WaitFor(
            [&] {
                if (poll) {
                    poll.reset();
                    dialog.Poll();
                }
                const FramesEstimate& shown = dialog.Estimate();
                return shown.bytes || shown.sizeUnknown || !shown.refusal.empty();
            },
            120000);
    }
};

ToolOptions Patient() {
    ToolOptions options;
    options.timeoutMs = 300000;
    return options;
}

// A clip that is no flat pattern: JPEG sizes then vary as a camera's do.
bool MakeNoisyClip(const std::string& path, int fps, int seconds, const std::string& size) {
    return RunTool("ffmpeg",
                   {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                    "testsrc2=size=" + size + ":rate=" + std::to_string(fps) +
                        ":duration=" + std::to_string(seconds) + ",noise=alls=18:allf=t+u",
                    "-c:v", "mpeg4", "-q:v", "4", "-g", std::to_string(fps), path},
                   Patient())
               .exitCode == 0;
}

// The frames' bytes, and how many there are.
std::pair<int64_t, int> FramesIn(const fs::path& folder) {
    std::pair<int64_t, int> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (Utf8Of(entry.path().filename()).starts_with("Clip_")) {
            found.first += static_cast<int64_t>(entry.file_size());
            ++found.second;
        }
    }
    return found;
}

}  // namespace

TEST_CASE("the frames dialog's estimate holds for the frames and the package the window writes") {
    const std::string realSpeed = "Real speed in the host (30 a second)";
    struct Row {
        int fps, seconds;
        std::string size, rate, width, start, length, quality;
        int frames;  // about
    };
    const Row rows[]{
        {24, 4, "320x240", realSpeed, "", "", "", "", 120},
        {30, 4, "320x240", "", "160", "1", "0:02", "5", 60},
        {60, 4, "320x240", "", "240", "1.5", "", "2 (best)", 150},
        {60, 40, "192x108", realSpeed, "", "", "", "", 1200},
    };
    for (const Row& row : rows) {
        CAPTURE(row.fps);
        CAPTURE(row.seconds);
        TempDir root;
        const fs::path frames = root.Path() / "frames";
        const fs::path out = root.Path() / "out";
        REQUIRE(MakeFolder(Utf8Of(frames)));
        REQUIRE(MakeFolder(Utf8Of(out)));
        const std::string clip = Native(root.Path() / "Clip.mp4");
        REQUIRE(MakeNoisyClip(clip, row.fps, row.seconds, row.size));

        ScriptedView view;
        WindowModel model(view);
        model.StartUp();
        model.ChooseVideo(clip);
        CHECK(view.enabled[WindowControl::cmdFrames]);
        const std::string notice = "This clip runs at " + std::to_string(row.fps) +
                                   " frames a second and the host plays 30: Frames\u2026 \u2192 "
                                   "Real speed keeps its pace.";
        CHECK(view.Text(WindowControl::txtStatus) ==
              (row.fps == 30 ? "For FREE Templates pay us a visit by clicking on our banner :)"
                             : notice));

        FramesEstimate estimate;
        view.framesDialog = [&](FrameOptionsModel& dialog) {
            ScriptedFrames frames;
            dialog.Open(frames);
            CHECK(frames.texts[FramesControl::lblClip].starts_with(
                ReplaceAll(row.size, "x", " \u00d7 ") + ", " + std::to_string(row.fps) +
                " frames a second, 0:" + (row.seconds < 10 ? "0" : "") +
                std::to_string(row.seconds) + ".00"));
            CHECK(frames.items[FramesControl::cboRate].at(1) == realSpeed);
            REQUIRE(frames.Type(dialog, FramesControl::cboRate, row.rate));
            REQUIRE(frames.Type(dialog, FramesControl::cboWidth, row.width));
            REQUIRE(frames.Type(dialog, FramesControl::txtStart, row.start));
            REQUIRE(frames.Type(dialog, FramesControl::txtLength, row.length));
            REQUIRE(frames.Type(dialog, FramesControl::cboQuality, row.quality));
            estimate = dialog.Estimate();
            CHECK_MESSAGE(estimate.refusal.empty(), estimate.refusal);
            CHECK_FALSE(frames.red[FramesControl::lblEstimate]);
            CHECK_FALSE(frames.enabled[FramesControl::cmdFit]);
            dialog.Click(FramesControl::cmdOK);
            CHECK(frames.ended);
        };
        model.cmdFrames_Click();
        REQUIRE(model.FramesChosen().Any());
        CHECK(view.Text(WindowControl::txtStatus) == FramesStatusText(model.FramesChosen()));
        CHECK(abs(estimate.frames - row.frames) <= 1);

        view.folderAnswers = {Native(frames)};
        model.cmdExtract_Click();
        const int32_t written = model.Project().FrameCount;
        CHECK_MESSAGE(abs(written - estimate.frames) <= 1, written, " vs ", estimate.frames);
        CHECK(model.Project().AnimationDuration == AnimationDurationFor(written));
        CHECK(view.progress == 100);

        // The converter with the same options writes the same frames, byte for byte.
        const FrameOptions& chosen = model.FramesChosen();
        std::vector<std::string> arguments{clip,
                                           "-o",
                                           Native(out / "cli.dzp"),
                                           "--type",
                                           "PRESET",
                                           "--category",
                                           "General",
                                           "--name",
                                           "Clip",
                                           "--frames-dir",
                                           Native(root.Path() / "cli frames")};
        if (chosen.fps) {
            arguments.insert(arguments.end(), {"--fps", RateText(*chosen.fps)});
        }
        for (auto [name, value] :
             {std::pair{"--width", chosen.width}, std::pair{"--quality", chosen.quality}}) {
            if (value) {
                arguments.insert(arguments.end(), {name, std::to_string(*value)});
            }
        }
        for (auto [name, value] :
             {std::pair{"--start", chosen.start}, std::pair{"--duration", chosen.duration}}) {
            if (value) {
                arguments.insert(arguments.end(), {name, *value});
            }
        }
        const ToolRun cli = RunTool(SPARKLOOM_CLI, arguments, Patient());
        REQUIRE_MESSAGE(cli.exitCode == 0, cli.err);
        for (int32_t frame : {1, written / 2, written}) {
            char name[32];
            std::snprintf(name, sizeof name, "Clip_%05d.jpg", frame);
            const std::string ours = ReadAll(Utf8Of(frames / name));
            CHECK_MESSAGE(
                (!ours.empty() && ours == ReadAll(Utf8Of(root.Path() / "cli frames" / name))),
                name);
        }
        CHECK(FramesIn(frames) == FramesIn(root.Path() / "cli frames"));

        // The package the window builds from them.
        view.fileAnswers = {Native(frames / "Clip_00001.jpg"), Native(frames / "Clip_00001.jpg"),
                            Native(out / "Clip.dzp")};
        model.cmdThumb_Click();
        model.cmdAnimImage_Click();
        view.texts[WindowControl::cboType] = "PRESET";
        view.texts[WindowControl::cboCat] = "General";
        model.cmdDZP_Click();
        REQUIRE(view.RunTicks(model));
        const std::string package = Utf8Of(out / "Clip.dzp");
        const auto size = static_cast<double>(fs::file_size(P(package)));
        REQUIRE(estimate.bytes);
        CHECK_MESSAGE(std::abs(static_cast<double>(*estimate.bytes) / size - 1) <= 0.25,
                      *estimate.bytes, " estimated, ", size, " written");
        const ToolRun check = RunTool(SPARKLOOM_CLI, {"--check", package});
        CHECK_MESSAGE(check.exitCode == 0, check.out, check.err);
        CHECK(TemplateAttribute(ReadAll(Utf8Of(frames / "TitleTemplate.clt")), "ParticleAttribExt",
                                "AnimationDuration") ==
              std::to_string(AnimationDurationFor(written)));
    }
}

TEST_CASE("the frames dialog refuses in its own words, fits a long clip and remembers") {
    TempDir root;
    const std::string clip = Native(root.Path() / "Long.mp4");
    REQUIRE(MakeNoisyClip(clip, 60, 40, "96x54"));
    const ClipFacts facts = ReadClipFacts(clip, {}, false);
    REQUIRE(facts.ok);
    CHECK(facts.Summary() == "96 \u00d7 54, 60 frames a second, 0:40.00, 2,400 frames");

    FrameOptionsModel dialog(clip, facts, {}, {"24", "640", "5"}, FramesPerPackage(2000));
    ScriptedFrames frames;
    dialog.Open(frames);
    // What the user chose last time fills the dialog; the widths offered lie below the clip's.
    CHECK(frames.texts[FramesControl::cboRate] == "24");
    CHECK(frames.texts[FramesControl::cboWidth] == "640");
    CHECK(frames.texts[FramesControl::cboQuality] == "5");
    CHECK(frames.items[FramesControl::cboWidth] == std::vector<std::string>{"As the clip (96)"});

    const struct {
        FramesControl control;
        std::string text, refusal;
    } refusals[]{
        {FramesControl::txtStart, "0:41",
         "Start: a time before the clip's end, 0:40.00, not \"0:41\"."},
        {FramesControl::txtLength, "0", "Length: longer than 0, not \"0\"."},
        {FramesControl::cboWidth, "9000", "Width: a whole number from 16 to 8192, not \"9000\"."},
        {FramesControl::cboRate, "fast", "Rate: a number from 1 to 120, not \"fast\"."},
        {FramesControl::cboRate, "200", "Rate: a number from 1 to 120, not \"200\"."},
        {FramesControl::cboQuality, "1",
         "JPEG quality: a whole number from 2 (best) to 31, not \"1\"."},
        {FramesControl::txtStart, "1:2",
         "Start: seconds (90, 1.5) or [HH:]MM:SS[.fff], not \"1:2\"."},
    };
    for (const auto& row : refusals) {
        CAPTURE(row.text);
        const std::string before = frames.texts[row.control];
        REQUIRE(frames.Type(dialog, row.control, row.text));
        CHECK(frames.texts[FramesControl::lblEstimate] == row.refusal);
        CHECK(frames.red[FramesControl::lblEstimate]);
        dialog.Click(FramesControl::cmdOK);
        CHECK(frames.warnings.back() == row.refusal);
        CHECK_FALSE(frames.ended);
        frames.texts[row.control] = before;
    }

    // Every frame of 40 s at 60 is 2,400: more than a package holds; Fit keeps the width.
    REQUIRE(frames.Type(dialog, FramesControl::cboRate, "Every frame (60 a second)"));
    REQUIRE(frames.Type(dialog, FramesControl::cboWidth, "As the clip (96)"));
    CHECK(dialog.Estimate().frames == 2400);
    CHECK(frames.texts[FramesControl::lblEstimate].ends_with(
        "\n406 frames more than a package holds (1,994)."));
    CHECK(frames.red[FramesControl::lblEstimate]);
    CHECK(frames.enabled[FramesControl::cmdFit]);
    dialog.Click(FramesControl::cmdFit);
    REQUIRE(frames.Type(dialog, FramesControl::cboRate, ""));
    CHECK(frames.texts[FramesControl::cboRate] == "49");
    CHECK(dialog.Estimate().frames == 1960);
    CHECK_FALSE(frames.red[FramesControl::lblEstimate]);
    CHECK_FALSE(frames.enabled[FramesControl::cmdFit]);
    dialog.Click(FramesControl::cmdOK);
    CHECK(frames.ended);
    REQUIRE(dialog.Accepted());
    CHECK(dialog.Chosen().fps == 49);
    CHECK(dialog.Chosen().quality == 5);
    CHECK_FALSE(dialog.Chosen().width);
    CHECK(FramesStatusText(dialog.Chosen()) == "Frames: 49 a second, quality 5");
    CHECK(dialog.ToRemember().rate == "49");
    CHECK(dialog.ToRemember().width.empty());

    // A rate typed with three decimals comes back as typed.
    FrameOptions film;
    film.fps = 23.976;
    FrameOptionsModel again(clip, facts, film, {}, FramesPerPackage(2000));
    ScriptedFrames reopened;
    again.Open(reopened);
    CHECK(reopened.texts[FramesControl::cboRate] == "23.976");
    again.Click(FramesControl::cmdOK);
    REQUIRE(again.Accepted());
    CHECK(again.Chosen().fps == 23.976);
    CHECK(again.ToRemember().rate == "23.976");

    // 10 s of slow motion at 240: Fit stays within the dialog's own range.
    ClipFacts slow = facts;
    slow.fps = 240;
    slow.seconds = 10;
    slow.frames = 2400;
    FrameOptionsModel fitting(clip, slow, {}, {}, FramesPerPackage(2000));
    ScriptedFrames fitted;
    fitting.Open(fitted);
    REQUIRE(fitted.Type(fitting, FramesControl::cboRate, ""));
    CHECK(fitted.enabled[FramesControl::cmdFit]);
    fitting.Click(FramesControl::cmdFit);
    CHECK(fitted.texts[FramesControl::cboRate] == "120");
    CHECK(fitting.Estimate().frames == 1200);
    CHECK(fitting.Estimate().refusal.empty());

    // Unknown length: said so, no frame count, no Fit.
    ClipFacts unknown = facts;
    unknown.seconds = -1;
    unknown.frames = 0;
    FrameOptionsModel open(clip, unknown, {}, {}, FramesPerPackage(2000));
    ScriptedFrames vague;
    open.Open(vague);
    REQUIRE(vague.Type(open, FramesControl::cboRate, ""));
    CHECK(vague.texts[FramesControl::lblEstimate].starts_with(
        "Length unknown; frames of 96 \u00d7 54, about "));
    CHECK_FALSE(vague.enabled[FramesControl::cmdFit]);
}

TEST_CASE("the frames dialog's samples live in the program's temp folder; a crashed run's go") {
    TempFolder live;
    REQUIRE(live.Create("frames"));
    const fs::path root = TempFolder::Root();
    CHECK(live.Path().parent_path() == root);
    // What a run that crashed leaves: a folder and its lock file, held by nobody.
    const fs::path stale = root / "frames-crashed";
    REQUIRE(MakeFolder(Utf8Of(stale)));
    REQUIRE(WriteFile(Utf8Of(stale / "samples.nut"), "x"));
    REQUIRE(WriteFile(Utf8Of(stale) + ".lock", ""));
    TempFolder::RemoveStale();
    CHECK_FALSE(fs::exists(stale));
    CHECK_FALSE(fs::exists(Utf8Of(stale) + ".lock"));
    CHECK(fs::is_directory(live.Path()));
}

TEST_CASE("the estimate holds on each kind of clip people bring, as the dialog and --estimate") {
    TempDir root;
    REQUIRE(MakeFolder(Utf8Of(root.Path() / "out")));
    const ToolRun made =
        RunTool("sh", {std::string(SPARKLOOM_TEST_DATA) + "/make-kinds.sh", Native(root.Path())},
                Patient());
    REQUIRE_MESSAGE(made.exitCode == 0, made.err);
    const std::string realSpeed = "Real speed in the host (30 a second)";
    const struct {
        std::string clip, rate, width, start, length, quality;
        int frames, wide, high;  // what the extraction writes
    } rows[]{
        {"vfr.mp4", "", "", "", "", "", 715, 320, 180},
        {"phone.mp4", realSpeed, "160", "", "", "", 180, 160, 90},
        {"slow.mp4", "120", "", "1", "", "", 480, 160, 90},
        {"two.mp4", "", "96", "1", "2", "", 50, 96, 54},
        {"rotated.mp4", "", "", "", "", "2 (best)", 90, 180, 320},
        {"cover.mp4", "", "", "0.5", "", "", 75, 320, 180},
        {"live.mkv", "10", "", "", "", "", 40, 320, 180},
    };
    for (const auto& row : rows) {
        CAPTURE(row.clip);
        const std::string clip = Native(root.Path() / row.clip);
        const ClipFacts facts = ReadClipFacts(clip, {}, false);
        REQUIRE(facts.ok);
        CHECK(facts.probed);
        FrameOptionsModel dialog(clip, facts, {}, {}, FramesPerPackage(2000));
        ScriptedFrames frames;
        dialog.Open(frames);
        REQUIRE(frames.Type(dialog, FramesControl::cboRate, row.rate));
        REQUIRE(frames.Type(dialog, FramesControl::cboWidth, row.width));
        REQUIRE(frames.Type(dialog, FramesControl::txtStart, row.start));
        REQUIRE(frames.Type(dialog, FramesControl::txtLength, row.length));
        REQUIRE(frames.Type(dialog, FramesControl::cboQuality, row.quality));
        const FramesEstimate estimate = dialog.Estimate();
        REQUIRE_MESSAGE(estimate.bytes, estimate.Line());
        dialog.Click(FramesControl::cmdOK);
        REQUIRE(dialog.Accepted());
        const FrameOptions& chosen = dialog.Chosen();
        std::vector<std::string> options;
        if (chosen.fps) {
            options.insert(options.end(), {"--fps", RateText(*chosen.fps)});
        }
        for (auto [name, value] :
             {std::pair{"--width", chosen.width}, std::pair{"--quality", chosen.quality}}) {
            if (value) {
                options.insert(options.end(), {name, std::to_string(*value)});
            }
        }
        for (auto [name, value] :
             {std::pair{"--start", chosen.start}, std::pair{"--duration", chosen.duration}}) {
            if (value) {
                options.insert(options.end(), {name, *value});
            }
        }
        // The converter's estimate is the dialog's line.
        std::vector<std::string> arguments{clip, "--estimate"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        const ToolRun estimated = RunTool(SPARKLOOM_CLI, arguments, Patient());
        CHECK(estimated.exitCode == 0);
        CHECK(estimated.out == estimate.Line() + "\n");

        const fs::path folder = root.Path() / (row.clip + " frames");
        const std::string package = Native(root.Path() / "out" / (row.clip + ".dzp"));
        arguments = {clip,      "-o",     package, "--type",       "PRESET",      "--category",
                     "General", "--name", "Clip",  "--frames-dir", Native(folder)};
        arguments.insert(arguments.end(), options.begin(), options.end());
        const ToolRun cli = RunTool(SPARKLOOM_CLI, arguments, Patient());
        REQUIRE_MESSAGE(cli.exitCode == 0, cli.err);
        const int written = FramesIn(folder).second;
        CHECK(abs(written - row.frames) <= std::max(1, row.frames / 100));
        CHECK_MESSAGE(abs(estimate.frames - written) <= std::max(1, written / 100), estimate.frames,
                      " estimated, ", written, " written");
        const auto size = static_cast<double>(fs::file_size(P(package)));
        CHECK_MESSAGE(std::abs(static_cast<double>(*estimate.bytes) / size - 1) <= 0.25,
                      *estimate.bytes, " estimated, ", size, " written");
        const ToolRun first =
            RunTool("ffprobe", {"-v", "error", "-show_entries", "stream=width,height", "-of",
                                "csv=p=0", Native(folder / "Clip_00001.jpg")});
        CHECK(first.out == std::to_string(row.wide) + "," + std::to_string(row.high) + "\n");
        CHECK(estimate.width == row.wide);
        CHECK(estimate.height == row.high);
    }
}

// The Preview dialog with nothing drawn and nothing decoded: its buttons only.
struct BlindPreview : PreviewView, FrameDecoder {
    int64_t Milliseconds() const override { return 0; }
    PixelSize PictureArea() const override { return {}; }
    PixelSize StripCellArea() const override { return {}; }
    void ShowPicture(std::shared_ptr<const DecodedPicture>) override {}
    void SetStrip(const std::vector<StripCell>&) override {}
    void SetSlider(int32_t, int32_t) override {}
    void SetText(PreviewControl, const std::string&) override {}
    void SetEnabled(PreviewControl, bool) override {}
    void StartTicks(int) override {}
    void ShowWarning(const std::string&) override {}
    void EndDialog() override {}
    void Start(const DecodeRequest&) override {}
};

TEST_CASE("the Preview dialog's two buttons set what the choosers' Browse sets") {
    TempDir root;
    REQUIRE(MakeClip(root.File("Fire Ball.mp4")));
    const auto road = [&](bool preview) {
        const fs::path frames = root.Path() / (preview ? "previewed" : "browsed");
        REQUIRE(MakeFolder(Utf8Of(frames)));
        ScriptedView view;
        WindowModel model(view);
        model.StartUp();
        view.fileAnswers = {root.File("Fire Ball.mp4")};
        model.cmdProjectFile_Click();
        view.folderAnswers = {Native(frames)};
        model.cmdExtract_Click();
        CHECK(view.enabled[WindowControl::cmdPreview]);
        if (preview) {
            view.previewDialog = [](PreviewModel& dialog) {
                BlindPreview blind;
                dialog.Open(blind, blind);
                dialog.Key(PreviewKey::End);
                dialog.Key(PreviewKey::Left);
                dialog.Click(PreviewControl::cmdThumbnail);
                dialog.SliderMoved(4);
                dialog.Click(PreviewControl::cmdFirstFrame);
                dialog.Click(PreviewControl::cmdClose);
            };
            model.cmdPreview_Click();
        } else {
            view.fileAnswers = {Native(frames / "Fire_Ball_00029.jpg"),
                                Native(frames / "Fire_Ball_00005.jpg")};
            model.cmdThumb_Click();
            model.cmdAnimImage_Click();
        }
        return std::vector<std::string>{view.Text(WindowControl::txtJPGThumb),
                                        view.Text(WindowControl::txtAnimImage),
                                        view.enabled[WindowControl::cmdDZP] ? "Build" : "",
                                        ReadAll(Utf8Of(frames / "Thumb.jpg")),
                                        ReadAll(Utf8Of(frames / "Thumb.png")),
                                        Join(view.Texts(), "|")};
    };
    const std::vector<std::string> browsed = road(false);
    CHECK(browsed[3] == ReadAll(root.File("browsed/Fire_Ball_00029.jpg")));
    CHECK(road(true) == browsed);
}
