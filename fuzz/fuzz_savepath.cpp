// The save dialog's path: the ".dzp" rule and the package folder taken from it.
#include <QFileInfo>

#include "FuzzInput.h"
#include "package/SavePath.h"

using namespace sparkloom;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto fields = fuzz::Fields(data, size);
    const QString path = fuzz::TextAt(fields, 0);
    const QString folder = fuzz::TextAt(fields, 1);
    const QString name = fuzz::TextAt(fields, 2);

    // ".dzp" goes on only when no "." is typed anywhere and no blank at either end,
    // and a path that has it keeps it as it is.
    const QString withExtension = WithPackageExtension(path);
    const bool takesExtension =
        !path.contains(u'.') && !path.startsWith(u' ') && !path.endsWith(u' ');
    FUZZ_CHECK(withExtension == (takesExtension ? path + QStringLiteral(".dzp") : path));
    FUZZ_CHECK(WithPackageExtension(withExtension) == withExtension);

    // Every "/" + name goes; nothing else does.
    const QString cut = PackageFolderOf(path, name);
    FUZZ_CHECK(cut.size() <= path.size());
    FUZZ_CHECK((cut.size() - path.size()) % (name.size() + 1) == 0);
    if (!path.contains(u'/' + name)) {
        FUZZ_CHECK(cut == path);
    }

    // A package path built as folder + "/" + name, with a name that holds no "/"
    // (as the dialog reports it) and a folder that does not hold it: the folder.
    if (!name.isEmpty() && !name.contains(u'/') && !folder.contains(u'/' + name)) {
        const QString packagePath = folder + u'/' + name;
        FUZZ_CHECK(PackageFolderOf(packagePath, name) == folder);
        // The window takes the name from the path the way QFileInfo splits it.
        if (!folder.isEmpty() && !name.contains(QChar(0)) && !folder.contains(QChar(0))) {
            const QFileInfo info(packagePath);
            FUZZ_CHECK(info.fileName() == name);
            FUZZ_CHECK(PackageFolderOf(packagePath, info.fileName()) == folder);
        }
    }
    return 0;
}
