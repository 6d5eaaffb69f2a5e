#pragma once

#include "store/HistoryModel.h"

#include <QWidget>

class QLineEdit;
class QListWidget;

// The whole history in one window, found from the keyboard: the search field has the focus
// and filters as one types (texts of clips and names of files); Up and Down choose a clip,
// Return pastes it as the menu does, Delete removes it, Escape or Control+W closes the window.
// Images show their thumbnail; favourite and secret clips their marks. What choosing and
// removing do is the application's: the window only says which clip.
class HistoryWindow final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HistoryWindow)

public:
    explicit HistoryWindow(QWidget *parent = nullptr);

    // Opens the window in front with an empty search over the newest clips.
    void showWindow();
    // Reads the clips again for the current search, keeping the chosen row where it can.
    void refresh();

    QLineEdit *searchField() const { return m_search; }
    QListWidget *list() const { return m_list; }

signals:
    // The window was hidden first, so that the paste reaches the window it was opened over.
    void chosen(const HistoryModel &clip);
    void removeRequested(const HistoryModel &clip);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void chooseCurrent();
    void removeCurrent();
    void moveCurrent(int steps);

    QLineEdit *m_search;
    QListWidget *m_list;
    bool m_placed = false;
};
