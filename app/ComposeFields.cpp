#include "app/ComposeFields.h"

#include "base/StreamIO.h"

void ComposeFields::saveToStream(StreamWriter &writer) const {
    writer.writeAnsi(to);
    writer.writeAnsi(cc);
    writer.writeWide(subject);
    writer.writeWide(body);
}

void ComposeFields::loadFromStream(StreamReader &reader, int version) {
    if (version != 10)
        return;
    ComposeFields read;
    read.to = reader.readAnsi();
    read.cc = reader.readAnsi();
    read.subject = reader.readWide();
    read.body = reader.readWide();
    *this = std::move(read);
}
