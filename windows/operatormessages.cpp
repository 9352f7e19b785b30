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

OperatorMessages::SaveChoice OperatorMessages::askAfterFailedSave(QWidget *parent, const QString &error)
{
    QMessageBox box(QMessageBox::Warning, title(),
                    u"The catalogue could not be saved.\n\n%1\n\nFree some disk space or fix the folder's "
                    u"permissions, then try again. Closing without saving loses the changes made since "
                    u"the last save."_s.arg(error),
                    QMessageBox::NoButton, parent);
    QPushButton *retry = box.addButton(u"Try Again"_s, QMessageBox::AcceptRole);
    QPushButton *discard = box.addButton(u"Close Without Saving"_s, QMessageBox::DestructiveRole);
    box.addButton(u"Keep Open"_s, QMessageBox::RejectRole);
    box.setDefaultButton(retry);
    box.exec();
    if (box.clickedButton() == retry)
        return SaveChoice::Retry;
    if (box.clickedButton() == discard)
        return SaveChoice::CloseWithoutSaving;
    return SaveChoice::KeepOpen;
}
