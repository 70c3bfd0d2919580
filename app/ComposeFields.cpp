#include "app/ComposeFields.h"

#include "data/StreamIO.h"

void TComposeFields::SaveToStream(TStreamWriter &writer) const {
    writer.WriteAnsi(To);
    writer.WriteAnsi(Cc);
    writer.WriteWide(Subject);
    writer.WriteWide(Body);
}

void TComposeFields::LoadFromStream(TStreamReader &reader, int version) {
    if (version != 10)
        return;
    TComposeFields read;
    read.To = reader.ReadAnsi();
    read.Cc = reader.ReadAnsi();
    read.Subject = reader.ReadWide();
    read.Body = reader.ReadWide();
    *this = std::move(read);
}
