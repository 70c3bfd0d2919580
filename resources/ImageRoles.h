#pragma once

#include <QString>

#include <array>

// The pictures of the program, by what they stand for. Every icon is a square SVG drawn on a
// 24-unit grid that reads at 16, 24 and 48 pixels; the windows ask for the size they show.
// The paths are those of resources/resources.qrc, which the window library compiles in.
enum class ImageRole {
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
    MessageFailed,  // refused for good; also Retry failed
    MessageUnknown, // the phone may have sent it; also Retry unknown
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
    ImageRole::NewProject,
    ImageRole::Open,
    ImageRole::Save,
    ImageRole::SaveAs,
    ImageRole::ImportContacts,
    ImageRole::ExportContacts,
    ImageRole::Exit,
    ImageRole::About,
    ImageRole::FolderExplorer,
    ImageRole::HidePane,
    ImageRole::Start,
    ImageRole::Stop,
    ImageRole::Compose,
    ImageRole::Contacts,
    ImageRole::Outbox,
    ImageRole::Phone,
    ImageRole::Sent,
    ImageRole::NewContact,
    ImageRole::Delete,
    ImageRole::Check,
    ImageRole::Uncheck,
    ImageRole::Edit,
    ImageRole::Ok,
    ImageRole::Cancel,
    ImageRole::ContactChecked,
    ImageRole::ContactUnchecked,
    ImageRole::MessagePending,
    ImageRole::MessageSending,
    ImageRole::MessageSent,
    ImageRole::MessageFailed,
    ImageRole::MessageUnknown,
    ImageRole::Forward,
    ImageRole::Resend,
    ImageRole::SendToOutbox,
    ImageRole::Flash,
    ImageRole::LongMessage,
    ImageRole::Clear,
    ImageRole::Update,
};

// The resource path of a role's picture, for QIcon.
inline QString imageRolePath(ImageRole role) {
    const char *name = "";
    switch (role) {
    case ImageRole::NewProject:
        name = "new-project";
        break;
    case ImageRole::Open:
        name = "open";
        break;
    case ImageRole::Save:
        name = "save";
        break;
    case ImageRole::SaveAs:
        name = "save-as";
        break;
    case ImageRole::ImportContacts:
        name = "import";
        break;
    case ImageRole::ExportContacts:
        name = "export";
        break;
    case ImageRole::Exit:
        name = "exit";
        break;
    case ImageRole::About:
        name = "about";
        break;
    case ImageRole::FolderExplorer:
        name = "explorer";
        break;
    case ImageRole::HidePane:
        name = "hide-pane";
        break;
    case ImageRole::Start:
        name = "start";
        break;
    case ImageRole::Stop:
        name = "stop";
        break;
    case ImageRole::Compose:
        name = "compose";
        break;
    case ImageRole::Contacts:
        name = "contacts";
        break;
    case ImageRole::Outbox:
        name = "outbox";
        break;
    case ImageRole::Phone:
        name = "phone";
        break;
    case ImageRole::Sent:
        name = "sent";
        break;
    case ImageRole::NewContact:
        name = "new-contact";
        break;
    case ImageRole::Delete:
        name = "delete";
        break;
    case ImageRole::Check:
        name = "check";
        break;
    case ImageRole::Uncheck:
        name = "uncheck";
        break;
    case ImageRole::Edit:
        name = "edit";
        break;
    case ImageRole::Ok:
        name = "ok";
        break;
    case ImageRole::Cancel:
        name = "cancel";
        break;
    case ImageRole::ContactChecked:
        name = "contact-checked";
        break;
    case ImageRole::ContactUnchecked:
        name = "contact-unchecked";
        break;
    case ImageRole::MessagePending:
        name = "message-pending";
        break;
    case ImageRole::MessageSending:
        name = "message-sending";
        break;
    case ImageRole::MessageSent:
        name = "message-sent";
        break;
    case ImageRole::MessageFailed:
        name = "message-failed";
        break;
    case ImageRole::MessageUnknown:
        name = "message-unknown";
        break;
    case ImageRole::Forward:
        name = "forward";
        break;
    case ImageRole::Resend:
        name = "resend";
        break;
    case ImageRole::SendToOutbox:
        name = "send-to-outbox";
        break;
    case ImageRole::Flash:
        name = "flash";
        break;
    case ImageRole::LongMessage:
        name = "long-message";
        break;
    case ImageRole::Clear:
        name = "clear";
        break;
    case ImageRole::Update:
        name = "update";
        break;
    }
    return QStringLiteral(":/icons/%1.svg").arg(QLatin1StringView(name));
}

// The program's own icon (window, about box, desktop entry), square, 48-unit grid.
inline QString programIconPath() {
    return QStringLiteral(":/pelorvane.svg");
}

// The activity clip of the main tool bar: an animated GIF of 32 by 32 pixels, 9 frames of
// 100 ms, looping, transparent around the drawing. Qt's own GIF reader plays it (QMovie).
inline QString activityClipPath() {
    return QStringLiteral(":/clips/mainavi.gif");
}
