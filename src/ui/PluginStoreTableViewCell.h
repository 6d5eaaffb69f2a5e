#pragma once

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QPushButton>
#include <QWidget>

// The store table's cell of the column "opt": one button, "添加", that adds the row's plugin.
class PluginStoreTableViewCell final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PluginStoreTableViewCell)

public:
    explicit PluginStoreTableViewCell(QWidget *parent = nullptr)
        : QWidget(parent)
        , m_addButton(new QPushButton(QCoreApplication::translate("PluginWindowController", "添加"), this))
    {
        setObjectName(QStringLiteral("id_opt"));
        m_addButton->setObjectName(QStringLiteral("addButton"));
        auto *layout = new QHBoxLayout(this);
        layout->setContentsMargins(4, 0, 4, 0);
        layout->addWidget(m_addButton);
    }

    QPushButton *addButton() const { return m_addButton; }

private:
    QPushButton *m_addButton;
};
