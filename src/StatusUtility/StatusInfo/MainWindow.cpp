// The window and its elements: what the interface description of the
// status window creates and connects.
#include <QFont>
#include <QHBoxLayout>
#include <QSizePolicy>
#include <QVBoxLayout>

#include "AppDelegate.h"

namespace qzm::statusinfo {

namespace {

constexpr int kWindowWidth = 420;
constexpr int kIconSize = 64;

// A label for text from the information file or the string table: shown as
// plain text, never as markup, and never widening the window.
QLabel* ValueLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return label;
}

QLabel* ScaleMark(QWidget* parent, Qt::Alignment alignment) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(alignment);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    label->setFont(font);
    return label;
}

// A titled box holding a single value label.
QGroupBox* ValueBox(QWidget* parent, QPointer<QLabel>& label) {
    auto* box = new QGroupBox(parent);
    auto* layout = new QVBoxLayout(box);
    label = ValueLabel(box);
    layout->addWidget(label);
    return box;
}

}  // namespace

void AppDelegate::awakeFromNib() {
    auto* root = new QWidget;
    root->setAttribute(Qt::WA_QuitOnClose, true);
    root->setFixedWidth(kWindowWidth);
    auto* column = new QVBoxLayout(root);

    // Status: icon beside the status text and the message.
    statusBox = new QGroupBox(root);
    auto* statusRow = new QHBoxLayout(statusBox);
    statusIconView = new QLabel(statusBox);
    statusIconView->setFixedSize(kIconSize, kIconSize);
    statusIconView->setAlignment(Qt::AlignCenter);
    statusRow->addWidget(statusIconView, 0, Qt::AlignTop);
    auto* statusTexts = new QVBoxLayout;
    statusLabel = ValueLabel(statusBox);
    QFont statusFont = statusLabel->font();
    statusFont.setBold(true);
    statusFont.setPointSizeF(statusFont.pointSizeF() * 1.2);
    statusLabel->setFont(statusFont);
    statusMessageLabel = ValueLabel(statusBox);
    statusMessageLabel->setWordWrap(true);
    statusMessageLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    statusMessageLabel->setMinimumHeight(statusMessageLabel->fontMetrics().lineSpacing() * 3);
    statusTexts->addWidget(statusLabel);
    statusTexts->addWidget(statusMessageLabel, 1);
    statusRow->addLayout(statusTexts, 1);
    column->addWidget(statusBox);

    // Media: size, remaining of initial, and the bar with its scale marks.
    mediaInfoBox = new QGroupBox(root);
    auto* media = new QVBoxLayout(mediaInfoBox);
    auto* mediaTexts = new QHBoxLayout;
    mediaSizeLabel = ValueLabel(mediaInfoBox);
    mediaCountLabel = ValueLabel(mediaInfoBox);
    mediaCountLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    mediaTexts->addWidget(mediaSizeLabel, 3);
    mediaTexts->addWidget(mediaCountLabel, 2);
    media->addLayout(mediaTexts);
    progressIndicator = new QProgressBar(mediaInfoBox);
    progressIndicator->setTextVisible(false);
    media->addWidget(progressIndicator);
    auto* marks = new QHBoxLayout;
    percent0Label = ScaleMark(mediaInfoBox, Qt::AlignLeft);
    percent50Label = ScaleMark(mediaInfoBox, Qt::AlignHCenter);
    percent100Label = ScaleMark(mediaInfoBox, Qt::AlignRight);
    marks->addWidget(percent0Label, 1);
    marks->addWidget(percent50Label, 1);
    marks->addWidget(percent100Label, 1);
    media->addLayout(marks);
    column->addWidget(mediaInfoBox);

    // Total count with the button that asks for a fresh count.
    totalCountBox = new QGroupBox(root);
    auto* countRow = new QHBoxLayout(totalCountBox);
    totalCountLabel = ValueLabel(totalCountBox);
    updateButton = new QPushButton(totalCountBox);
    countRow->addWidget(totalCountLabel, 1);
    countRow->addWidget(updateButton);
    column->addWidget(totalCountBox);

    // Serial number and firmware version side by side.
    auto* identity = new QHBoxLayout;
    serialNumberbox = ValueBox(root, serialNumberLabel);
    firmVersionbox = ValueBox(root, firmVersionLabel);
    identity->addWidget(serialNumberbox, 1);
    identity->addWidget(firmVersionbox, 1);
    column->addLayout(identity);

    connect(updateButton, &QPushButton::clicked, this, &AppDelegate::updateButtonPushed);
    window = root;
}

}  // namespace qzm::statusinfo
