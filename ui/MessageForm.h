#pragma once

#include <QString>
#include <QWidget>

struct TMessage;
class TDataModule1;
class TMessageList;
class TViewHost;

// A messages view: the outbox or the sent folder, one instance each.
class TfrmMessage : public QWidget {
    Q_OBJECT
public:
    TfrmMessage(TDataModule1 &data, TViewHost &host, TMessageList &list, const QString &title,
                QWidget *parent = nullptr);
    ~TfrmMessage() override;

    TMessageList &List() const;
    // Appends a message to this view's list (the compose view's Send to Outbox).
    int AddMessage(const TMessage &message);
    // Re-reads the row count and repaints.
    void RefreshList();
};
