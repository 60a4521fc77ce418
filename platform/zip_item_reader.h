#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>

struct zip;

// Where an item's bytes go as they are read; it may raise an error to stop the reading.
using ItemSink = std::function<void(const char* data, std::size_t size)>;

// Reads item `index` of `archive` whole: decrypted with `password` (none when empty), inflated and
// checked against its CRC, handing each piece to `sink` in order. Raises Error worded by the
// archive layer, naming `shownName`. Every item's data of an extraction goes through here.
void readItem(zip* archive, std::uint64_t index, const QByteArray& password, const QString& shownName,
              const ItemSink& sink);

// The libzip error of `archive` (or of a failed open) in the archive layer's words.
QString zipArchiveErrorText(zip* archive, const QString& subject);
