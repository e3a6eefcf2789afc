#pragma once

// Driving the real window by its controls' names, as a person clicks them.

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QString>
#include <QTest>
#include <QWidget>
#include <functional>
#include <vector>

#include "app/Form1.h"
#include "app/QtText.h"
#include "support/ScriptedSeam.h"
#include "zip/Zipper.h"

namespace sparkloom::test {

template <typename T>
T* Control(QWidget& form, const char* name) {
    return form.findChild<T*>(QString::fromLatin1(name));
}

inline void Click(QWidget& form, const char* name) {
    QTest::mouseClick(Control<QPushButton>(form, name), Qt::LeftButton);
}

inline QString Status(QWidget& form) {
    return Control<QPlainTextEdit>(form, "txtStatus")->toPlainText();
}

// What the window's builder reports, recorded beside the window's own handlers
// (which still run first) for as long as the log lives.
class ZipperEventLog {
public:
    explicit ZipperEventLog(Zipper& zipper) : mZipper(zipper), mWindow(zipper.Events) {
        ZipperEvents& events = zipper.Events;
        events.StartFile = [this] {
            Call(mWindow.StartFile);
            ++starts;
        };
        events.EndFile = [this] {
            Call(mWindow.EndFile);
            ++ends;
        };
        events.Error = [this] {
            Call(beforeWindowError);
            Call(mWindow.Error);
            ++errors;
            Call(onEnd);
        };
        events.Complete = [this](bool Canceled) {
            if (mWindow.Complete) {
                mWindow.Complete(Canceled);
            }
            completes.push_back(Canceled);
            Call(onEnd);
        };
    }
    ~ZipperEventLog() { mZipper.Events = mWindow; }
    ZipperEventLog(const ZipperEventLog&) = delete;
    ZipperEventLog& operator=(const ZipperEventLog&) = delete;

    int starts = 0;
    int ends = 0;
    int errors = 0;
    std::vector<bool> completes;  // each Complete's Canceled
    // Runs after each Error and Complete.
    std::function<void()> onEnd;
    // Runs on Error before the window hears of it, while the failed run's
    // archive is still on disk.
    std::function<void()> beforeWindowError;

private:
    static void Call(const std::function<void()>& handler) {
        if (handler) {
            handler();
        }
    }
    Zipper& mZipper;
    const ZipperEvents mWindow;
};

inline bool WaitUntilIdle(Form1& form, int timeoutMs = 60000) {
    return QTest::qWaitFor([&form] { return !form.ArchiveBuilder().Zipping(); }, timeoutMs);
}

// Video → frames → thumbnail → first frame → type and category, the way a user
// goes. Returns "" or what went wrong.
inline QString PrepareBuild(Form1& form, ScriptedSeam& seam, const QString& video,
                            const QString& frames, const QString& particleName = QString()) {
    seam.fileAnswers << video;
    Click(form, "cmdProjectFile");
    if (!particleName.isNull()) {
        Control<QLineEdit>(form, "txtParticleName")->setText(particleName);
    }
    seam.folderAnswers << frames;
    Click(form, "cmdExtract");
    if (!Control<QPushButton>(form, "cmdThumb")->isEnabled()) {
        return QStringLiteral("extraction failed: ") + seam.Messages().join(u'|');
    }
    const QString prefix = Control<QLineEdit>(form, "txtParticleName")->text().replace(u' ', u'_');
    seam.fileAnswers << frames + u'/' + prefix + QStringLiteral("_00002.jpg");
    Click(form, "cmdThumb");
    seam.fileAnswers << frames + u'/' + prefix + QStringLiteral("_00001.jpg");
    Click(form, "cmdAnimImage");
    Control<QComboBox>(form, "cboType")->setCurrentIndex(0);
    Control<QComboBox>(form, "cboCat")->setCurrentIndex(1);
    if (!Control<QPushButton>(form, "cmdDZP")->isEnabled()) {
        return QStringLiteral("Build Particle stayed disabled: ") + seam.Messages().join(u'|');
    }
    seam.shown.clear();
    return QString();
}

}  // namespace sparkloom::test
