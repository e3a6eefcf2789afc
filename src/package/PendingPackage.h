#pragma once

#include <functional>
#include <string>

namespace sparkloom {

// A package built under a hidden name beside the one the user chose, which it
// takes only once it reads back whole: a crash, a kill or a power loss never
// leaves a cut package under the user's name, and an old package there is
// replaced only by a good one. Until then the temporary is removed when this goes.
class PendingPackage {
public:
    explicit PendingPackage(std::string target);
    ~PendingPackage();
    PendingPackage(const PendingPackage&) = delete;
    PendingPackage& operator=(const PendingPackage&) = delete;

    // The name the user chose.
    const std::string& Target() const { return mTarget; }
    // Where the archive is written; "" when no free name was found, which
    // fails as a package that cannot be created.
    const std::string& Path() const { return mPath; }

    // Reads the finished archive back as every build does (a cancelled one
    // only as an archive) and, when it is whole, puts it in the target's
    // place. "" then; otherwise the temporary is gone and the text says why.
    std::string Finish(bool canceled, const std::function<void()>& pulse = {});
    // The run failed or was stopped: nothing takes the target's place.
    void Discard();

private:
    std::string mTarget;
    std::string mPlace;  // the target, or what a link there leads to
    std::string mPath;
};

}  // namespace sparkloom
