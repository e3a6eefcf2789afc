// The Preview dialog's workflow without any toolkit: a simulated clock, and a
// stand-in decoder whose every picture takes a set time, two at once.
#include <doctest/doctest.h>

#include <map>
#include <optional>
#include <sstream>

#include "workflow/PreviewModel.h"

using namespace sparkloom;

namespace {

struct Picture : DecodedPicture {
    explicit Picture(int32_t f) : frame(f) {}
    int32_t frame;
};

// The dialog and its decoder: the clock moves only when the test says.
class Bench : public PreviewView, public FrameDecoder {
public:
    int64_t now = 0;
    int64_t decodeMs = 5, pictureBytes = 1 << 20, stripBytes = 1 << 16;
    std::optional<int64_t> tickAt;
    std::multimap<int64_t, DecodeRequest> running;   // by when each is done
    std::vector<std::pair<int64_t, int32_t>> shown;  // when, which frame
    std::vector<StripCell> strip;
    std::string label, play;
    int64_t mostCached = 0;
    PreviewModel* model = nullptr;

    int64_t Milliseconds() const override { return now; }
    PixelSize PictureArea() const override { return {640, 360}; }
    PixelSize StripCellArea() const override { return {96, 54}; }
    void ShowPicture(std::shared_ptr<const DecodedPicture> picture) override {
        shown.emplace_back(now, static_cast<const Picture&>(*picture).frame);
    }
    void SetStrip(const std::vector<StripCell>& cells) override { strip = cells; }
    void SetSlider(int32_t, int32_t) override {}
    void SetText(PreviewControl control, const std::string& text) override {
        (control == PreviewControl::cmdPlay ? play : label) = text;
    }
    void SetEnabled(PreviewControl, bool) override {}
    void StartTicks(int milliseconds) override { tickAt = now + milliseconds; }
    void ShowWarning(const std::string&) override {}
    void EndDialog() override {}
    void Start(const DecodeRequest& request) override { running.emplace(now + decodeMs, request); }

    // Runs the ticks and decodes due until until, in the order of their times.
    void RunUntil(int64_t until) {
        for (;;) {
            const int64_t decodeAt = running.empty() ? INT64_MAX : running.begin()->first;
            const int64_t next = std::min(decodeAt, tickAt.value_or(INT64_MAX));
            if (next > until) {
                break;
            }
            now = std::max(now, next);
            if (decodeAt == next) {
                const DecodeRequest request = running.begin()->second;
                running.erase(running.begin());
                model->Decoded({request.frame, request.strip,
                                std::make_shared<Picture>(request.frame),
                                request.strip ? stripBytes : pictureBytes, ""});
            } else {
                tickAt.reset();
                model->Tick();
            }
            mostCached = std::max(mostCached, model->CachedBytes());
        }
        now = until;
    }
};

std::vector<std::string> Names(int count) {
    std::vector<std::string> names;
    for (int n = 1; n <= count; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "Fire_%05d.jpg", n);
        names.push_back(name);
    }
    return names;
}

// Where the host stands after steps 30ths of a second from frame start.
int32_t HostFrame(int32_t start, int64_t steps, int32_t count, int32_t loopStart) {
    const int64_t at = start + steps;
    return static_cast<int32_t>(at < count ? at : loopStart + (at - count) % (count - loopStart));
}

}  // namespace

TEST_CASE("which frame shows when, looping, stepping, the first-frame start and the cache bound") {
    struct Row {
        const char* name;
        int frames;
        int firstFrame;  // 0: none chosen
        int64_t decodeMs;
        int64_t cacheMiB;
        // "play", "wait MS", a key ("Right", "PageDown", …), "strip CELL",
        // "slider FRAME", "first"; each followed by "=FRAME", the frame then at.
        const char* script;
        int64_t onTimePercentAtLeast;
    };
    const Row rows[] = {
        {"plays at 30 a second", 1994, 0, 5, 96, "wait 200 =0 play wait 1000 =30 wait 20000 =630",
         100},
        {"loops back to the first frame", 10, 0, 5, 96, "play wait 500 =5 wait 500 =0 wait 400 =2",
         100},
        {"starts and loops at the chosen first frame", 10, 5, 5, 96,
         "wait 100 =4 play wait 500 =7 wait 1000 =7", 100},
        {"steps, scrubs and clicks the strip", 100, 0, 5, 96,
         "Right =1 Right =2 PageDown =32 Left =31 PageUp =1 PageUp =0 End =99 Right =99 Home =0 "
         "slider 52 =52 strip 0 =35 strip 6 =50 Right =51 strip 3 =50",
         100},
        {"playing goes on from a frame gone to", 100, 0, 5, 96,
         "play wait 100 =3 slider 80 =80 wait 200 =86 wait 500 =1", 100},
        {"a decoder slower than the pace shows what it can", 300, 0, 100, 96, "play wait 5000 =150",
         25},
        {"the cache stays within its bound", 1994, 0, 5, 8, "play wait 3000 =90 Right =91", 95},
        {"picking a first frame moves where playing loops to", 20, 0, 5, 96,
         "slider 15 =15 first =15 play wait 300 =19", 100},
    };
    for (const Row& row : rows) {
        CAPTURE(row.name);
        Bench bench;
        bench.decodeMs = row.decodeMs;
        const std::vector<std::string> names = Names(row.frames);
        std::vector<std::string> firstFrames, thumbnails;
        PreviewChoosers choosers{[&](const std::string& path) { firstFrames.push_back(path); },
                                 [&](const std::string& path) { thumbnails.push_back(path); }};
        PreviewModel model("frames", names, row.firstFrame ? names[row.firstFrame - 1] : "",
                           choosers, row.cacheMiB << 20);
        bench.model = &model;
        model.Open(bench, bench);
        int32_t start = model.Current(), playedFrom = 0;
        int64_t playedAt = -1;
        std::istringstream script(row.script);
        for (std::string word; script >> word;) {
            CAPTURE(word);
            if (word.starts_with("=")) {
                CHECK(model.Current() == std::stoi(word.substr(1)));
                continue;
            }
            const auto playing = [&] {
                playedAt = model.Playing() ? bench.now : -1;
                playedFrom = model.Current();
            };
            if (word == "play") {
                model.Click(PreviewControl::cmdPlay);
                CHECK(bench.play == kPauseCaption);
                playing();
            } else if (word == "wait") {
                int64_t ms = 0;
                script >> ms;
                bench.RunUntil(bench.now + ms);
            } else if (word == "slider" || word == "strip") {
                int at = 0;
                script >> at;
                word == "slider" ? model.SliderMoved(at) : model.StripClicked(at);
                playing();
            } else if (word == "first") {
                model.Click(PreviewControl::cmdFirstFrame);
                CHECK(firstFrames.back() == model.PathOf(model.Current()));
                CHECK(model.LoopStart() == model.Current());
                CHECK_FALSE(model.Playing());
            } else {
                const std::map<std::string, PreviewKey> keys{
                    {"Left", PreviewKey::Left},     {"Right", PreviewKey::Right},
                    {"PageUp", PreviewKey::PageUp}, {"PageDown", PreviewKey::PageDown},
                    {"Home", PreviewKey::Home},     {"End", PreviewKey::End}};
                REQUIRE(keys.contains(word));
                model.Key(keys.at(word));
                playing();
            }
            bench.RunUntil(bench.now);
        }
        (void)start;
        // Every picture shown while playing was the frame due at that moment.
        if (row.decodeMs < 30 && playedAt >= 0) {
            for (const auto& [when, frame] : bench.shown) {
                if (when > playedAt) {
                    CHECK(frame == HostFrame(playedFrom, (when - playedAt) * 30 / 1000, row.frames,
                                             model.LoopStart()));
                }
            }
        }
        CHECK(bench.label == model.FrameLine(model.Current()));
        if (model.Counts().due > 0) {
            CHECK(model.Counts().onTime * 100 >= model.Counts().due * row.onTimePercentAtLeast);
        }
        CHECK(bench.mostCached <= row.cacheMiB << 20);
        CHECK(bench.strip.size() == kPreviewStripCells);
        model.Click(PreviewControl::cmdClose);
        CHECK(model.CachedBytes() == 0);
    }
}

TEST_CASE("the frame's line tells its time in the host") {
    const PreviewModel model("frames", Names(1200), "", {});
    CHECK(model.FrameLine(119) == "Fire_00120.jpg, 0:03.97 of 0:40.00");
    CHECK(model.FrameLine(0) == "Fire_00001.jpg, 0:00.00 of 0:40.00");
    CHECK(HostTimeText(1994) == "1:06.47");
}
