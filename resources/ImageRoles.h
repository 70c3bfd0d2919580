#pragma once

#include <QString>

#include <array>

// The pictures of the program, by what they stand for. Every icon is a square SVG drawn on a
// 24-unit grid that reads at 16, 24 and 48 pixels; the windows ask for the size they show.
// The paths are those of resources/resources.qrc, which the window library compiles in.
enum class TImageRole {
    // File menu
    NewProject,     // New
    Open,           // Open...
    Save,           // Save
    SaveAs,         // Save As...
    ImportContacts, // Import Contacts... / the contacts view's Import
    ExportContacts, // Export Contacts... / the contacts view's Export
    Exit,           // Exit
    // Help and View menus, explorer pane
    About,          // About
    FolderExplorer, // View, Folder Explorer
    HidePane,       // the small button that hides the explorer
    // Main tool bar
    Start, // Start a sending run
    Stop,  // Stop the run
    // Folders: explorer nodes and View menu entries
    Compose,
    Contacts,
    Outbox,
    Phone,
    Sent,
    // Contacts view
    NewContact,
    Delete, // also the messages view's Delete
    Check,
    Uncheck,
    Edit,
    Ok,               // OK ending an edit
    Cancel,           // Cancel of an edit
    ContactChecked,   // a contact row whose check mark is set
    ContactUnchecked, // a contact row without it
    // Messages view: rows by status, context menu
    MessagePending,
    MessageSending,
    MessageSent,
    Forward,
    Resend,
    // Compose view tool bar
    SendToOutbox,
    Flash,
    LongMessage,
    Clear,
    // Phone view
    Update,
};

inline constexpr std::array AllImageRoles{
    TImageRole::NewProject,
    TImageRole::Open,
    TImageRole::Save,
    TImageRole::SaveAs,
    TImageRole::ImportContacts,
    TImageRole::ExportContacts,
    TImageRole::Exit,
    TImageRole::About,
    TImageRole::FolderExplorer,
    TImageRole::HidePane,
    TImageRole::Start,
    TImageRole::Stop,
    TImageRole::Compose,
    TImageRole::Contacts,
    TImageRole::Outbox,
    TImageRole::Phone,
    TImageRole::Sent,
    TImageRole::NewContact,
    TImageRole::Delete,
    TImageRole::Check,
    TImageRole::Uncheck,
    TImageRole::Edit,
    TImageRole::Ok,
    TImageRole::Cancel,
    TImageRole::ContactChecked,
    TImageRole::ContactUnchecked,
    TImageRole::MessagePending,
    TImageRole::MessageSending,
    TImageRole::MessageSent,
    TImageRole::Forward,
    TImageRole::Resend,
    TImageRole::SendToOutbox,
    TImageRole::Flash,
    TImageRole::LongMessage,
    TImageRole::Clear,
    TImageRole::Update,
};

// The resource path of a role's picture, for QIcon.
inline QString ImageRolePath(TImageRole role) {
    const char *name = "";
    switch (role) {
    case TImageRole::NewProject:
        name = "new-project";
        break;
    case TImageRole::Open:
        name = "open";
        break;
    case TImageRole::Save:
        name = "save";
        break;
    case TImageRole::SaveAs:
        name = "save-as";
        break;
    case TImageRole::ImportContacts:
        name = "import";
        break;
    case TImageRole::ExportContacts:
        name = "export";
        break;
    case TImageRole::Exit:
        name = "exit";
        break;
    case TImageRole::About:
        name = "about";
        break;
    case TImageRole::FolderExplorer:
        name = "explorer";
        break;
    case TImageRole::HidePane:
        name = "hide-pane";
        break;
    case TImageRole::Start:
        name = "start";
        break;
    case TImageRole::Stop:
        name = "stop";
        break;
    case TImageRole::Compose:
        name = "compose";
        break;
    case TImageRole::Contacts:
        name = "contacts";
        break;
    case TImageRole::Outbox:
        name = "outbox";
        break;
    case TImageRole::Phone:
        name = "phone";
        break;
    case TImageRole::Sent:
        name = "sent";
        break;
    case TImageRole::NewContact:
        name = "new-contact";
        break;
    case TImageRole::Delete:
        name = "delete";
        break;
    case TImageRole::Check:
        name = "check";
        break;
    case TImageRole::Uncheck:
        name = "uncheck";
        break;
    case TImageRole::Edit:
        name = "edit";
        break;
    case TImageRole::Ok:
        name = "ok";
        break;
    case TImageRole::Cancel:
        name = "cancel";
        break;
    case TImageRole::ContactChecked:
        name = "contact-checked";
        break;
    case TImageRole::ContactUnchecked:
        name = "contact-unchecked";
        break;
    case TImageRole::MessagePending:
        name = "message-pending";
        break;
    case TImageRole::MessageSending:
        name = "message-sending";
        break;
    case TImageRole::MessageSent:
        name = "message-sent";
        break;
    case TImageRole::Forward:
        name = "forward";
        break;
    case TImageRole::Resend:
        name = "resend";
        break;
    case TImageRole::SendToOutbox:
        name = "send-to-outbox";
        break;
    case TImageRole::Flash:
        name = "flash";
        break;
    case TImageRole::LongMessage:
        name = "long-message";
        break;
    case TImageRole::Clear:
        name = "clear";
        break;
    case TImageRole::Update:
        name = "update";
        break;
    }
    return QStringLiteral(":/icons/%1.svg").arg(QLatin1StringView(name));
}

// The program's own icon (window, about box, desktop entry), square, 48-unit grid.
inline QString ProgramIconPath() {
    return QStringLiteral(":/pelorvane.svg");
}

// The activity clip of the main tool bar: an animated GIF of 32 by 32 pixels, 9 frames of
// 100 ms, looping, transparent around the drawing. Qt's own GIF reader plays it (QMovie).
inline QString ActivityClipPath() {
    return QStringLiteral(":/clips/mainavi.gif");
}
