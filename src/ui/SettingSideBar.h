#pragma once

#include <QList>
#include <QWidget>

class QButtonGroup;
class QToolButton;

// The settings window's sidebar: one row per pane, each with a title and an image, the
// selected row marked by its bright image and a small triangle pointing at the pane.
class SettingSideBar final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SettingSideBar)

public:
    explicit SettingSideBar(QWidget *parent = nullptr);

    // Appends a row. image is shown on the selected row, alternateImage on the others
    // (names of the settings images).
    void addButton(const QString &title, const QString &image, const QString &alternateImage);
    int count() const { return int(m_buttons.size()); }
    QToolButton *button(int row) const;

    int selectedRow() const;
    // Marks the row as selected without announcing it.
    void selectRow(int row);

signals:
    // The user chose a row.
    void rowSelected(int row);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QButtonGroup *m_group = nullptr;
    QList<QToolButton *> m_buttons;
};
