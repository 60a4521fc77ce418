#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>

struct zip;

namespace archive {

// Receives an item's plain bytes, in order, on the thread that called readZipItem.
using ItemSink = std::function<void(const char* data, size_t size)>;

// How readZipItem spreads its work: on its own for the size of the item, or forced either way.
enum class ItemReading { Automatic, InLine, Pipelined };

// Reads item `index` of an open archive: decrypts traditional PKWARE encryption with `password`,
// inflates a deflated item or passes a stored one through, and checks the CRC-32 and the size. A
// large item is read and decrypted on a second thread while this one inflates, so the two serial
// stages run on two cores; a small one is read in line.
//
// Raises Error, worded by the archive layer's table and naming `item` (the item's name as shown),
// on a missing or wrong password, a CRC or size mismatch, damaged or cut-short data, a method it
// cannot read or a failed read. The sink may have received
// bytes before the error; an exception from the sink ends the reading and passes up unchanged.
// `archive` must not be used by any other thread until the call returns.
void readZipItem(zip* archive, uint64_t index, const QByteArray& password, const QString& item,
                 const ItemSink& sink, ItemReading reading = ItemReading::Automatic);

} // namespace archive
