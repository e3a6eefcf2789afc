// The save dialog's path: the ".dzp" rule and the package folder taken from it.
#include <string>

#include "FuzzInput.h"
#include "common/Files.h"
#include "common/Text.h"
#include "package/SavePath.h"

using namespace sparkloom;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto fields = fuzz::Fields(data, size);
    const std::string path = fuzz::TextAt(fields, 0);
    const std::string folder = fuzz::TextAt(fields, 1);
    const std::string name = fuzz::TextAt(fields, 2);
    const auto holds = [](const std::string& text, const std::string& part) {
        return text.find(part) != std::string::npos;
    };

    // ".dzp" goes on only when the file name holds no "." (the folders' dots do not
    // count) and no blank stands at either end, and a path that has it keeps it as it is.
    const std::string withExtension = WithPackageExtension(path);
    const size_t lastSeparator = path.find_last_of(kPathSeparators);
    const std::string fileName =
        lastSeparator == std::string::npos ? path : path.substr(lastSeparator + 1);
    const bool takesExtension =
        !holds(fileName, ".") && !path.starts_with(' ') && !path.ends_with(' ');
    FUZZ_CHECK(withExtension == (takesExtension ? path + ".dzp" : path));
    FUZZ_CHECK(WithPackageExtension(withExtension) == withExtension);

    // Every "/" + name goes; nothing else does.
    const std::string cut = PackageFolderOf(path, name);
    FUZZ_CHECK(cut.size() <= path.size());
    FUZZ_CHECK((path.size() - cut.size()) % (name.size() + 1) == 0);
    if (!holds(path, '/' + name)) {
        FUZZ_CHECK(cut == path);
    }

    // A package path built as folder + "/" + name, with a name that holds no "/"
    // (as the dialog reports it) and a folder that does not hold it: the folder.
    if (!name.empty() && !holds(name, "/") && !holds(folder, '/' + name)) {
        const std::string packagePath = folder + '/' + name;
        FUZZ_CHECK(PackageFolderOf(packagePath, name) == folder);
        // The core takes the name from the path the way std::filesystem splits it.
        if (!folder.empty() && !holds(name, std::string(1, '\0')) &&
            !holds(folder, std::string(1, '\0')) && IsUtf8(packagePath)) {
            const std::string fileName = Utf8Of(PathFromUtf8(packagePath).filename());
            FUZZ_CHECK(fileName == name);
            FUZZ_CHECK(PackageFolderOf(packagePath, fileName) == folder);
        }
    }
    return 0;
}
