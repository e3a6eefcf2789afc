#pragma once

#include <QList>
#include <QQueue>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>

#include "app/UserSeam.h"

namespace sparkloom::test {

// Answers the window's questions from a script and records what it showed,
// so no test ever blocks in a modal dialog.
class ScriptedSeam : public UserSeam {
public:
    struct Shown {
        enum class Kind { File, Folder, Message, Url } kind;
        FileDialogRequest fileRequest;
        QString initialFolder;
        QString title;
        QString text;
        MessageIcon icon = MessageIcon::None;
        MessageButtons buttons = MessageButtons::Ok;
        QUrl url;
    };

    QQueue<QString> fileAnswers;           // "" cancels
    QQueue<QString> folderAnswers;         // "" cancels
    QQueue<MessageAnswer> messageAnswers;  // empty: OK
    bool browserAvailable = true;
    // Runs while a message is "on screen", e.g. to check the window state then.
    std::function<void(const Shown&)> onMessage;

    QList<Shown> shown;

    QString ChooseFile(QWidget*, const FileDialogRequest& request) override {
        Shown s{Shown::Kind::File, request, {}, request.title, {}, {}, {}, {}};
        shown << s;
        return fileAnswers.isEmpty() ? QString() : fileAnswers.dequeue();
    }
    QString BrowseForFolder(QWidget*, const QString& initialFolder, const QString& title) override {
        Shown s{Shown::Kind::Folder, {}, initialFolder, title, {}, {}, {}, {}};
        shown << s;
        return folderAnswers.isEmpty() ? QString() : folderAnswers.dequeue();
    }
    MessageAnswer ShowMessage(QWidget*, const QString& text, MessageIcon icon,
                              MessageButtons buttons) override {
        Shown s{Shown::Kind::Message, {}, {}, {}, text, icon, buttons, {}};
        shown << s;
        if (onMessage) {
            onMessage(s);
        }
        return messageAnswers.isEmpty() ? MessageAnswer::Ok : messageAnswers.dequeue();
    }
    bool OpenUrl(const QUrl& url) override {
        Shown s{Shown::Kind::Url, {}, {}, {}, {}, {}, {}, url};
        shown << s;
        return browserAvailable;
    }

    QStringList Messages() const {
        QStringList texts;
        for (const Shown& s : shown) {
            if (s.kind == Shown::Kind::Message) {
                texts << s.text;
            }
        }
        return texts;
    }
    QList<Shown::Kind> Kinds() const {
        QList<Shown::Kind> kinds;
        for (const Shown& s : shown) {
            kinds << s.kind;
        }
        return kinds;
    }
};

}  // namespace sparkloom::test
