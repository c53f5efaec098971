#include "update_progress_widget.hpp"

#include <stdexcept>

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include "fatal_error.hpp"
#include "progress_throttle.hpp"

namespace {

const char *const kPowerWarning =
    "<p><span style=\" font-size:10pt; font-weight:600; color:#ff0000;\">DO NOT</span>"
    "<span style=\" font-size:10pt; color:#ff0000;\"> reset, turn off, or remove power from the "
    "system during the update! Any interruption in the firmware update process may result in "
    "corruption of the firmware making the system non-functional.</span></p>";

struct operation_word {
    ROMWRIGHT_OPERATION operation;
    const char *word;
};

const operation_word kOperationWords[] = {
    {ROMWRIGHT_OPERATION_ERASING, "Erasing "},
    {ROMWRIGHT_OPERATION_WRITING, "Writing "},
    {ROMWRIGHT_OPERATION_VERIFYING, "Verifing "},
};

const char *wordFor(ROMWRIGHT_OPERATION operation) {
    for (const auto &row : kOperationWords)
        if (row.operation == operation)
            return row.word;
    throw std::runtime_error("Invalid operation.");
}

} // namespace

UpdateProgressWidget::UpdateProgressWidget(QWidget *parent) : QDialog(parent) {
    auto *layout = new QVBoxLayout(this);
    layout->addStretch();
    auto *warning = new QLabel(QString::fromLatin1(kPowerWarning), this);
    warning->setWordWrap(true);
    layout->addWidget(warning);
    text_label = new QLabel(QStringLiteral("Progress:"), this);
    layout->addWidget(text_label);
    progress_bar = new QProgressBar(this);
    progress_bar->setRange(0, 100);
    layout->addWidget(progress_bar);
    layout->addStretch();
    resize(400, 150);
}

void UpdateProgressWidget::onBoardChanged(int current_board, int total_boards) {
    this->current_board = current_board;
    this->total_boards = total_boards;
    romwright_gui::guarded([this] { refresh(); });
}

void UpdateProgressWidget::onOperationChanged(ROMWRIGHT_OPERATION operation) {
    this->operation = operation;
    romwright_gui::guarded([this] { refresh(); });
}

void UpdateProgressWidget::onProgressChanged(float progress) {
    this->progress = progress;
    romwright_gui::guarded([this] { refresh(); });
}

void UpdateProgressWidget::closeEvent(QCloseEvent *event) {
    event->ignore();
}

void UpdateProgressWidget::reject() {}

void UpdateProgressWidget::refresh() {
    if (operation == ROMWRIGHT_OPERATION_NONE)
        return;
    const QString text = QString::fromLatin1(wordFor(operation)) + QStringLiteral("board ") +
                         QString::number(current_board) + QStringLiteral(" of ") +
                         QString::number(total_boards);
    text_label->setText(text);
    progress_bar->setValue(romwright_gui::shownPercent(progress));
}
