#include "app/FramesDialog.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "app/LayoutControls.h"
#include "app/QtText.h"
#include "workflow/FrameOptionsModel.h"

namespace sparkloom {

FramesDialog::FramesDialog(FrameOptionsModel& model, QWidget* parent)
    : QDialog(parent), mModel(model) {
    const QFont windowFont = DressLayoutWindow(this, "FramesDialog", kFramesCaption,
                                               kFramesClientWidthTwips, kFramesClientHeightTwips);

    QLabel* waitingForBuddy = nullptr;
    for (const ControlLayout& layout : kFramesLayout) {
        QWidget* control = MakeControl(layout, this, windowFont);
        control->setObjectName(ToQt(layout.name));
        control->setGeometry(Twips(layout));
        control->setEnabled(layout.enabled);
        if (!layout.toolTip.empty()) {
            control->setToolTip(ToQt(layout.toolTip));
        }
        mControls.emplace(layout.name, control);
        // A label's access key moves to the box after it.
        if (waitingForBuddy != nullptr && layout.kind != ControlLayout::Kind::Label) {
            waitingForBuddy->setBuddy(control);
            waitingForBuddy = nullptr;
        }
        if (auto* label = qobject_cast<QLabel*>(control);
            label && layout.caption.find('&') != std::string_view::npos) {
            waitingForBuddy = label;
        }
    }
    auto* estimate = static_cast<QLabel*>(Widget(FramesControl::lblEstimate));
    estimate->setWordWrap(true);
    estimate->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    static_cast<QPushButton*>(Widget(FramesControl::cmdOK))->setDefault(true);

    for (const FramesControl control :
         {FramesControl::cboRate, FramesControl::cboWidth, FramesControl::cboQuality,
          FramesControl::txtStart, FramesControl::txtLength, FramesControl::cmdFit,
          FramesControl::cmdOK, FramesControl::cmdCancel}) {
        QWidget* widget = Widget(control);
        const auto changed = [this, control] {
            if (!mSetting) {
                mModel.Changed(control);
            }
        };
        if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            connect(combo, &QComboBox::editTextChanged, this, changed);
        } else if (auto* box = qobject_cast<QLineEdit*>(widget)) {
            connect(box, &QLineEdit::textChanged, this, changed);
        } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
            connect(button, &QPushButton::clicked, this,
                    [this, control] { mModel.Click(control); });
        }
    }
    mPoll.setSingleShot(true);
    connect(&mPoll, &QTimer::timeout, this, [this] { mModel.Poll(); });
    mModel.Open(*this);
}

QWidget* FramesDialog::Widget(FramesControl control) const {
    return mControls.at(NameOf(control));
}

std::string FramesDialog::Text(FramesControl control) const {
    return TextOf(Widget(control));
}

void FramesDialog::SetText(FramesControl control, const std::string& text) {
    mSetting = true;
    SetTextOf(Widget(control), text);
    mSetting = false;
}

void FramesDialog::SetItems(FramesControl control, const std::vector<std::string>& items) {
    if (auto* combo = qobject_cast<QComboBox*>(Widget(control))) {
        mSetting = true;
        const QString text = combo->currentText();
        combo->clear();
        for (const std::string& item : items) {
            combo->addItem(ToQt(item));
        }
        combo->setEditText(text);
        mSetting = false;
    }
}

void FramesDialog::SetEnabled(FramesControl control, bool enabled) {
    Widget(control)->setEnabled(enabled);
}

void FramesDialog::SetRed(FramesControl control, bool red) {
    QWidget* widget = Widget(control);
    Colour(widget, QPalette::WindowText,
           red ? QColor(Qt::red) : palette().color(QPalette::WindowText));
}

void FramesDialog::StartPolls(int milliseconds) {
    mPoll.start(milliseconds);
}

void FramesDialog::ShowWarning(const std::string& text) {
    QMessageBox::warning(this, windowTitle(), ToQt(text));
}

void FramesDialog::EndDialog() {
    mEnding = true;
    mPoll.stop();
    if (mModel.Accepted()) {
        accept();
    } else {
        QDialog::reject();
    }
}

void FramesDialog::reject() {
    // Escape and the close box: as Cancel.
    if (!mEnding) {
        mModel.Click(FramesControl::cmdCancel);
    }
}

}  // namespace sparkloom
