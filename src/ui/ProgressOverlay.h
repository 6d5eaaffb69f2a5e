#pragma once

#include <QWidget>

class QLabel;

// A busy indicator with a line of text laid over a whole window while long work runs; it
// swallows the window's mouse and keyboard input until it is dismissed.
class ProgressOverlay final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ProgressOverlay)

public:
    // Covers the window of host and shows text.
    static ProgressOverlay *showOn(QWidget *host, const QString &text);

    void setText(const QString &text);
    QString text() const;
    // Removes the overlay; it deletes itself.
    void dismiss();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    explicit ProgressOverlay(QWidget *window);

    QLabel *m_label = nullptr;
};
