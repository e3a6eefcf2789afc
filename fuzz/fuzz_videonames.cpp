// The names taken from the chosen video: its folder, the particle name preset
// from it, the frame prefix and the output pattern ffmpeg reads.
#include <QByteArray>

#include "FuzzInput.h"
#include "extract/VideoNames.h"

using namespace sparkloom;

namespace {

// ffmpeg's reading of an image sequence pattern (av_get_frame_filename2 without
// the "multiple" flag): "%" digits... "d" is the number, "%%" (digits allowed
// before the second "%") a literal "%", anything else after "%" an error, and
// exactly one number field is required. Returns false where ffmpeg refuses.
bool ExpandLikeFfmpeg(const QByteArray& pattern, int number, QByteArray& out, int& fields) {
    out.clear();
    fields = 0;
    for (qsizetype at = 0; at < pattern.size();) {
        char c = pattern[at++];
        if (c != '%') {
            out += c;
            continue;
        }
        int width = 0;
        do {
            width = 0;
            while (at < pattern.size() && pattern[at] >= '0' && pattern[at] <= '9') {
                if (width >= 1000) {
                    return false;
                }
                width = width * 10 + (pattern[at++] - '0');
            }
            if (at >= pattern.size()) {
                return false;
            }
            c = pattern[at++];
        } while (c >= '0' && c <= '9');
        if (c == '%') {
            out += '%';
        } else if (c == 'd') {
            if (++fields > 1) {
                return false;
            }
            out += QByteArray::number(number).rightJustified(width, '0');
        } else {
            return false;
        }
    }
    return fields == 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto fields = fuzz::Fields(data, size);
    const QString folder = fuzz::TextAt(fields, 0);
    const QString fileName = fuzz::TextAt(fields, 1);
    const QString particleName = fuzz::TextAt(fields, 2);

    // The video's folder: the path without "/" + its name.
    if (!fileName.isEmpty() && !fileName.contains(u'/') && !folder.contains(u'/' + fileName)) {
        FUZZ_CHECK(ProjectFolderOf(folder + u'/' + fileName, fileName) == folder);
    }
    FUZZ_CHECK(ProjectFolderOf(folder, QString()) == folder);

    // The particle name: the file name less its extension of up to four
    // characters, never cut inside a character.
    const auto name = ParticleNameFromFile(fileName);
    FUZZ_CHECK(name.has_value() == (fileName.size() >= 4));
    if (name) {
        FUZZ_CHECK(fileName.startsWith(*name));
        FUZZ_CHECK(fileName.size() - name->size() >= 4 && fileName.size() - name->size() <= 5);
        if (fuzz::IsWellFormedUtf16(fileName)) {
            FUZZ_CHECK(fuzz::IsWellFormedUtf16(*name));
        }
    }

    // The frame prefix: blanks become "_", nothing else changes.
    const QString prefix = FramePrefixOf(particleName);
    FUZZ_CHECK(prefix.size() == particleName.size());
    FUZZ_CHECK(!prefix.contains(u' '));
    for (qsizetype i = 0; i < prefix.size(); ++i) {
        FUZZ_CHECK(prefix[i] == (particleName[i] == u' ' ? QChar(u'_') : particleName[i]));
    }

    // The pattern ffmpeg reads names frame n exactly prefix_0000n.jpg. A NUL
    // would end the argument early; the window refuses such names first.
    if (!prefix.contains(QChar(0))) {
        const QByteArray pattern = FramePattern(prefix).toUtf8();
        for (const int frame : {1, 42, 99999, 123456}) {
            QByteArray expanded;
            int numberFields = 0;
            FUZZ_CHECK(ExpandLikeFfmpeg(pattern, frame, expanded, numberFields));
            FUZZ_CHECK(numberFields == 1);
            FUZZ_CHECK(expanded == prefix.toUtf8() + '_' +
                                       QByteArray::number(frame).rightJustified(5, '0') + ".jpg");
        }
    }
    return 0;
}
