#include "windows/operatormessages.h"

#include <QMessageBox>
#include <QPushButton>

using namespace Qt::StringLiterals;

QString OperatorMessages::title()
{
    return u"Valdrin AIM Server v2 By Morvex"_s;
}

void OperatorMessages::show(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, title(), text, QMessageBox::Ok, parent);
    box.exec();
}

void OperatorMessages::warnLater(QWidget *parent, const QString &text)
{
    auto *box = new QMessageBox(QMessageBox::Warning, title(), text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

OperatorMessages::SaveChoice OperatorMessages::askAfterFailedSave(QWidget *parent, const QString &error, bool canRetry)
{
    QMessageBox box(QMessageBox::Warning, title(),
                    u"The catalogue could not be saved.\n\n%1\n\nFree some disk space or fix the folder's "
                    u"permissions, then try again. Closing without saving loses the changes made since "
                    u"the last save."_s.arg(error),
                    QMessageBox::NoButton, parent);
    if (!canRetry) {
        box.setText(u"The catalogue could not be saved.\n\n%1\n\nClosing now loses the changes made in this "
                    u"run; keep the window open to copy them out first."_s.arg(error));
    }
    QPushButton *retry = canRetry ? box.addButton(u"Try Again"_s, QMessageBox::AcceptRole) : nullptr;
    QPushButton *discard = box.addButton(u"Close Without Saving"_s, QMessageBox::DestructiveRole);
    QPushButton *keep = box.addButton(u"Keep Open"_s, QMessageBox::RejectRole);
    box.setDefaultButton(canRetry ? retry : keep);
    box.exec();
    if (box.clickedButton() == retry)
        return SaveChoice::Retry;
    if (box.clickedButton() == discard)
        return SaveChoice::CloseWithoutSaving;
    return SaveChoice::KeepOpen;
}

void OperatorMessages::offerToRemoveUnmatchedRows(QWidget *parent, const QString &text, std::function<void()> remove)
{
    auto *box = new QMessageBox(QMessageBox::Warning, title(), text, QMessageBox::NoButton, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    QPushButton *removeButton = box->addButton(u"Remove Unmatched Rows"_s, QMessageBox::DestructiveRole);
    box->setDefaultButton(box->addButton(u"Keep Them"_s, QMessageBox::RejectRole));
    QObject::connect(box, &QMessageBox::buttonClicked, box, [removeButton, remove = std::move(remove)](auto *button) {
        if (button == removeButton)
            remove();
    });
    box->show();
}
