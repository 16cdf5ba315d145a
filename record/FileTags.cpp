#include "record/FileTags.h"

#include <taglib/id3v2tag.h>
#include <taglib/textidentificationframe.h>

namespace filetags {

QByteArray id3v24Tag(const QString &artist, const QString &title, const QString &album,
                     const QString &date)
{
    TagLib::ID3v2::Tag tag;
    const std::pair<const char *, QString> texts[] = {
        {"TPE1", artist}, {"TIT2", title}, {"TALB", album}, {"TDRC", date}};
    for (const auto &[id, text] : texts) {
        if (text.isEmpty())
            continue;
        auto *frame = new TagLib::ID3v2::TextIdentificationFrame(id, TagLib::String::UTF8);
        frame->setText(TagLib::String(text.toStdString(), TagLib::String::UTF8));
        tag.addFrame(frame); // the tag owns it
    }
    if (tag.isEmpty())
        return {};
    const TagLib::ByteVector bytes = tag.render(TagLib::ID3v2::v4);
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

QString extension(StreamTap::Format format)
{
    switch (format) {
    case StreamTap::Format::Mp3: return QStringLiteral("mp3");
    case StreamTap::Format::Aac: return QStringLiteral("aac");
    case StreamTap::Format::Ogg: return QStringLiteral("ogg");
    default: return QStringLiteral("bin");
    }
}

} // namespace filetags
