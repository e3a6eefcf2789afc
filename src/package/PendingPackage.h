#pragma once

#include <functional>
#include <memory>
#include <string>

namespace sparkloom {

namespace platform {
class WriterLock;
}

// A package built under a hidden name beside the one the user chose, which it
// takes only once it reads back whole: a crash, a kill or a power loss never
// leaves a cut package under the user's name, and an old package there is
// replaced only by a good one. Until then the temporary is removed when this goes.
class PendingPackage {
public:
    // Removes what killed runs left in the target's folder first.
    explicit PendingPackage(std::string target);
    ~PendingPackage();
    PendingPackage(const PendingPackage&) = delete;
    PendingPackage& operator=(const PendingPackage&) = delete;

    // The name the user chose.
    const std::string& Target() const { return mTarget; }
    // Where the archive is written; "" when no free name was found, which
    // fails as a package that cannot be created.
    const std::string& Path() const { return mPath; }
    // The writer has opened Path: from now on it stays out of sight on Windows too.
    void Writing();

    struct End {
        // Why no package took the chosen name; "" when one did, or when a
        // stopped run left the old package there.
        std::string failure;
        // A stopped run kept the package that was there before.
        bool keptOld = false;
    };
    // Reads the finished archive back as every build does (a cancelled one
    // only as an archive) and, when it is whole, puts it in the target's
    // place. A cancelled run's shorter package never takes the place of a
    // package already there: that one stays, and the temporary goes.
    End Finish(bool canceled, const std::function<void()>& pulse = {});
    // The run failed or was stopped: nothing takes the target's place. True
    // when an old package is there, and stays.
    bool Discard();

private:
    bool OldPackageThere() const;
    // The move into the target's place, waited for a while when another
    // program holds the old package; "" once it is there.
    std::string Place(const std::function<void()>& pulse);

    std::string mTarget;
    std::string mPlace;  // the target, or what a link there leads to
    std::string mPath;
    std::unique_ptr<platform::WriterLock> mLock;
};

// The temporaries of killed runs beside packages in folder: hidden names of
// the form ".NAME.dzp-XXXXXX" whose writer is gone. A file a live run still
// writes is left alone. How many went.
int RemoveAbandonedPackages(const std::string& folder);

// What a stop over an old package says of it, after what the stop says itself.
std::string OldPackageKeptText(const std::string& target);

// "Fire (2).dzp" and on beside path: the first name nothing has; "" when none.
std::string NextFreeName(const std::string& path);

}  // namespace sparkloom
