#include "ui/Sheets.h"

#include <QAbstractButton>
#include <QLabel>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

namespace {

QMessageBox *openAlert(QWidget *parent, const Sheets::Alert &alert, Qt::WindowModality modality,
                       QMessageBox::Icon icon, std::function<void(int)> completion)
{
    QWidget *window = parent ? parent->window() : nullptr;
    auto *box = new QMessageBox(window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(modality);
    box->setIcon(icon);
    // Texts may carry values from a reply or from the user: never markup, never a link that
    // the box would open by itself.
    box->setTextFormat(Qt::PlainText);
    box->setText(alert.message);
    box->setInformativeText(alert.informativeText);
    if (auto *informative = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setTextFormat(Qt::PlainText);

    const QStringList titles = alert.buttons.isEmpty() ? QStringList{QStringLiteral("OK")} : alert.buttons;
    QList<QPushButton *> buttons;
    for (const QString &title : titles)
        buttons.append(box->addButton(title, QMessageBox::ActionRole));
    box->setDefaultButton(buttons.first());
    const int escape = alert.escapeButton >= 0 && alert.escapeButton < buttons.size()
                           ? alert.escapeButton
                           : int(buttons.size()) - 1;
    box->setEscapeButton(buttons.at(escape));

    QPointer<QWidget> guard(parent);
    const bool hadParent = parent != nullptr;
    QObject::connect(box, &QMessageBox::finished, box,
                     [box, buttons, escape, guard, hadParent, completion = std::move(completion)](int) {
                         if (!completion || (hadParent && !guard))
                             return;
                         const auto clicked =
                             buttons.indexOf(qobject_cast<QPushButton *>(box->clickedButton()));
                         completion(Sheets::FirstButtonReturn + int(clicked >= 0 ? clicked : escape));
                     });
    // show(), not open(): open() would force window modality on the application-modal alert.
    box->show();
    return box;
}

} // namespace

namespace Sheets {

QMessageBox *beginSheet(QWidget *parent, const Alert &alert, std::function<void(int)> completion)
{
    return openAlert(parent, alert, Qt::WindowModal, QMessageBox::NoIcon, std::move(completion));
}

QMessageBox *runModal(QWidget *parent, const Alert &alert, std::function<void(int)> completion)
{
    return openAlert(parent, alert, Qt::ApplicationModal, QMessageBox::Information, std::move(completion));
}

} // namespace Sheets
