// The small window shown while a request runs: a warning not to cut power,
// one line naming the operation and the board, and a percentage bar.
#pragma once

#include <QDialog>

#include <romwright/romwright.h>

class QCloseEvent;
class QLabel;
class QProgressBar;

class UpdateProgressWidget : public QDialog {
    Q_OBJECT

public:
    explicit UpdateProgressWidget(QWidget *parent);

public slots:
    void onBoardChanged(int current_board, int total_boards);
    void onOperationChanged(ROMWRIGHT_OPERATION operation);
    void onProgressChanged(float progress);

protected:
    // The window stays up until the request ends; the main window hides it.
    void closeEvent(QCloseEvent *event) override;
    // Escape would hide it as well.
    void reject() override;

private:
    // Raises "Invalid operation." for an operation outside 0 to 3; the slots
    // hand that to the program's top-level handler.
    void refresh();

    QLabel *text_label;
    QProgressBar *progress_bar;
    int current_board = 0;
    int total_boards = 0;
    ROMWRIGHT_OPERATION operation = ROMWRIGHT_OPERATION_NONE;
    float progress = 0.0f;
};
