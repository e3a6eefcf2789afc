#include "workflow/FrameSamples.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <string_view>
#include <system_error>
#include <vector>

#include "common/Text.h"
#include "platform/ChildProcess.h"

namespace sparkloom {

namespace {

// Spread over the chosen part; each gives a few frames in a row.
constexpr int kSamples = 4;
constexpr int kFramesPerSample = 2;
// ffmpeg reads an input to its end even once its output has all its frames: a
// short -t keeps it from decoding the rest of the clip.
constexpr const char* kSampleSeconds = "0.3";

std::string SecondsText(double seconds) {
    char buffer[64];
    const auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, seconds, std::chars_format::fixed, 3);
    return error == std::errc() ? std::string(buffer, end) : std::string("0");
}

// The sides of a baseline or progressive JPEG, from its frame header.
bool JpegSize(std::string_view jpeg, int& width, int& height) {
    size_t at = 2;
    while (at + 9 < jpeg.size()) {
        if (static_cast<unsigned char>(jpeg[at]) != 0xFF) {
            return false;
        }
        const auto marker = static_cast<unsigned char>(jpeg[at + 1]);
        const size_t length = (static_cast<unsigned char>(jpeg[at + 2]) << 8) |
                              static_cast<unsigned char>(jpeg[at + 3]);
        if (marker >= 0xC0 && marker <= 0xC2) {
            height = (static_cast<unsigned char>(jpeg[at + 5]) << 8) |
                     static_cast<unsigned char>(jpeg[at + 6]);
            width = (static_cast<unsigned char>(jpeg[at + 7]) << 8) |
                    static_cast<unsigned char>(jpeg[at + 8]);
            return true;
        }
        at += 2 + length;
    }
    return false;
}

// A rate for -r: as many digits as it has (59.94 is 59.94005994...).
std::string RateArgument(double rate) {
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, rate);
    return error == std::errc() ? std::string(buffer, end) : std::string("30");
}

bool RanWell(const platform::ChildExit& exit) {
    return !exit.stopped && exit.exited && exit.exitCode == 0;
}

}  // namespace

bool DecodeSamples(const std::string& ffmpeg, const std::string& video, double from, double window,
                   const std::filesystem::path& file, const std::function<bool()>& stop) {
    std::vector<std::string> arguments{"-nostdin", "-hide_banner", "-v", "error", "-y"};
    std::string graph;
    for (int sample = 0; sample < kSamples; ++sample) {
        // At a keyframe near each point: no decoding from the last one on.
        const double at = from + window * (sample + 0.5) / kSamples;
        arguments.insert(arguments.end(), {"-noaccurate_seek", "-ss", SecondsText(at), "-t",
                                           kSampleSeconds, "-i", video});
        const std::string index = std::to_string(sample);
        graph += "[" + index + ":V:0]trim=end_frame=" + std::to_string(kFramesPerSample) +
                 ",setpts=PTS-STARTPTS[s" + index + "];";
    }
    for (int sample = 0; sample < kSamples; ++sample) {
        graph += "[s" + std::to_string(sample) + "]";
    }
    graph += "concat=n=" + std::to_string(kSamples) + ":v=1:a=0[out]";
    // Raw pictures in NUT keep the decoder's own pixels, size and format.
    arguments.insert(arguments.end(), {"-filter_complex", graph, "-map", "[out]", "-c:v",
                                       "rawvideo", "-f", "nut", Utf8Of(file)});
    platform::ChildRequest request;
    request.program = ffmpeg;
    request.arguments = arguments;
    request.output = [](const char*, size_t) {};
    request.stop = stop;
    return RanWell(platform::RunChild(request));
}

SampleMeasure EncodeSamples(const std::string& ffmpeg, const std::filesystem::path& file,
                            const FrameOptions& encoding, double rate, int32_t frames,
                            int32_t sequence, const std::function<bool()>& stop) {
    SampleMeasure measure;
    FrameOptions chosen;
    chosen.width = encoding.width;
    chosen.quality = encoding.quality;
    // The same scaling and quality arguments the extraction passes.
    FrameArguments options = FfmpegArgumentsFor(chosen);
    const bool settles = !chosen.quality && rate > 0 && sequence > 0;
    if (!chosen.quality && !settles) {
        // Large frames: the rate control cannot reach its bitrate and settles,
        // after a dozen frames, at the quality 24.8 gives from the first
        // (every frame a key frame, 0.8 of the worst, 31).
        options.output.insert(options.output.end(), {"-q:v", "24.8"});
    }
    const int32_t encoded = settles ? std::max(std::min(frames, sequence), 1) : 0;
    std::vector<std::string> arguments{"-nostdin", "-hide_banner", "-v", "error"};
    if (settles) {
        arguments.insert(arguments.end(), {"-stream_loop", "-1", "-r", RateArgument(rate)});
    }
    arguments.insert(arguments.end(), {"-i", Utf8Of(file)});
    arguments.insert(arguments.end(), options.output.begin(), options.output.end());
    if (settles) {
        arguments.insert(arguments.end(), {"-frames:v", std::to_string(encoded)});
    }
    arguments.insert(arguments.end(), {"-c:v", "mjpeg", "-f", "image2pipe", "-"});
    std::string jpegs;
    platform::ChildRequest request;
    request.program = ffmpeg;
    request.arguments = arguments;
    request.output = [&](const char* data, size_t size) { jpegs.append(data, size); };
    request.errorOutput = [](const char*, size_t) {};
    request.stop = stop;
    if (!RanWell(platform::RunChild(request))) {
        return measure;
    }
    // Each picture ends with its one EOI marker: inside the data a 0xFF is
    // always followed by 0x00 or a restart marker.
    std::vector<size_t> sizes;
    size_t begin = 0;
    for (size_t at = jpegs.find("\xFF\xD9"); at != std::string::npos;
         at = jpegs.find("\xFF\xD9", at + 2)) {
        sizes.push_back(at + 2 - begin);
        begin = at + 2;
    }
    if (sizes.empty() || !JpegSize(jpegs, measure.width, measure.height)) {
        return measure;
    }
    double total = 0;
    for (const size_t size : sizes) {
        total += static_cast<double>(size);
    }
    const auto count = static_cast<double>(sizes.size());
    measure.bytesPerFrame = total / count;
    // Frames past those encoded weigh what the last round of samples did.
    if (settles && frames > static_cast<int32_t>(sizes.size())) {
        const size_t last = std::min<size_t>(sizes.size(), kSamples * kFramesPerSample);
        double settled = 0;
        for (size_t at = sizes.size() - last; at < sizes.size(); ++at) {
            settled += static_cast<double>(sizes[at]);
        }
        measure.bytesPerFrame =
            (total + settled / static_cast<double>(last) * (frames - count)) / frames;
    }
    measure.ok = true;
    return measure;
}

SampleMeasure MeasureSamplesDirectly(const std::string& ffmpeg, const std::string& video,
                                     double from, double window, const FrameOptions& encoding,
                                     const std::filesystem::path& folder,
                                     const std::function<bool()>& stop) {
    namespace fs = std::filesystem;
    SampleMeasure measure;
    std::error_code error;
    fs::remove_all(folder, error);
    if (!fs::create_directories(folder, error)) {
        return measure;
    }
    FrameOptions chosen;
    chosen.width = encoding.width;
    chosen.quality = encoding.quality;
    FrameArguments options = FfmpegArgumentsFor(chosen);
    if (!chosen.quality) {
        options.output.insert(options.output.end(), {"-q:v", "24.8"});
    }
    std::vector<std::string> arguments{"-nostdin", "-hide_banner", "-v", "error", "-y"};
    for (int sample = 0; sample < kSamples; ++sample) {
        const double at = from + window * (sample + 0.5) / kSamples;
        arguments.insert(arguments.end(), {"-noaccurate_seek", "-ss", SecondsText(at), "-t",
                                           kSampleSeconds, "-i", video});
    }
    const std::string pattern = ReplaceAll(Utf8Of(folder), "%", "%%");
    for (int sample = 0; sample < kSamples; ++sample) {
        arguments.insert(arguments.end(),
                         {"-map", std::to_string(sample) + ":V:0", "-frames:v",
                          std::to_string(kFramesPerSample), "-fps_mode", "passthrough"});
        arguments.insert(arguments.end(), options.output.begin(), options.output.end());
        arguments.push_back(pattern + "/s" + std::to_string(sample) + "_%02d.jpg");
    }
    platform::ChildRequest request;
    request.program = ffmpeg;
    request.arguments = arguments;
    request.output = [](const char*, size_t) {};
    request.stop = stop;
    if (RanWell(platform::RunChild(request))) {
        int64_t bytes = 0;
        int frames = 0;
        for (const auto& entry : fs::directory_iterator(folder, error)) {
            bytes += static_cast<int64_t>(entry.file_size(error));
            ++frames;
        }
        std::ifstream first(folder / "s0_01.jpg", std::ios::binary);
        std::string head(65536, '\0');
        first.read(head.data(), static_cast<std::streamsize>(head.size()));
        head.resize(static_cast<size_t>(first.gcount()));
        if (frames > 0 && !error && JpegSize(head, measure.width, measure.height)) {
            measure.bytesPerFrame = static_cast<double>(bytes) / frames;
            measure.ok = true;
        }
    }
    fs::remove_all(folder, error);
    return measure;
}

}  // namespace sparkloom
