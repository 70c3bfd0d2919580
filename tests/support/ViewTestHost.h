#pragma once

// A stand-in for the main window in tests of single views: it creates the compose, outbox
// and sent views on request and records what the views ask of it. For GUI tests only (needs
// the window library).

#include "app/AppData.h"
#include "ui/ComposeView.h"
#include "ui/MessagesView.h"
#include "ui/ViewHost.h"

#include <QList>
#include <QWidget>

#include <memory>

class ViewTestHost : public ViewHost {
public:
    explicit ViewTestHost(AppData &data) : data(data) {
        pane = std::make_unique<QWidget>();
        pane->resize(800, 600);
    }

    void showView(QWidget *view) override {
        shown << view;
        refreshAll();
    }
    void refreshAll() override {
        ++refreshes;
        if (m_outbox)
            m_outbox->refreshList();
        if (m_sent)
            m_sent->refreshList();
    }
    void composeTo(const QByteArray &recipients) override {
        composeView()->setRecipients(recipients);
        showView(composeView());
    }
    void setStatusText(const QString &text) override { status = text; }

    ComposeView *composeView() override {
        if (!m_compose)
            m_compose = docked(new ComposeView(data, *this, pane.get()));
        return m_compose;
    }
    ContactsView *contactsView() override { return nullptr; }
    MessagesView *outboxView() override {
        if (!m_outbox)
            m_outbox = docked(new MessagesView(data, *this, *data.outboxList,
                                               QStringLiteral("Outbox"), pane.get()));
        return m_outbox;
    }
    MessagesView *sentView() override {
        if (!m_sent)
            m_sent = docked(
                new MessagesView(data, *this, *data.sentList, QStringLiteral("Sent"), pane.get()));
        return m_sent;
    }
    PhoneView *phoneView() override { return nullptr; }

    QWidget *lastShown() const { return shown.isEmpty() ? nullptr : shown.last(); }

    AppData &data;
    std::unique_ptr<QWidget> pane;
    QList<QWidget *> shown;
    int refreshes = 0;
    QString status;

private:
    // Each view fills the pane, as in the main window.
    template <typename View>
    View *docked(View *view) {
        view->setGeometry(pane->rect());
        return view;
    }

    ComposeView *m_compose = nullptr;
    MessagesView *m_outbox = nullptr;
    MessagesView *m_sent = nullptr;
};
