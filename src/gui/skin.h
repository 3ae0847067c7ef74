#pragma once
// Skin pictures: JPEG files embedded in the executable, decoded with libjpeg.
#include <QByteArray>
#include <QImage>
#include <string>

namespace kestrel {

// Decodes a JPEG held in memory; a null image when the data is not a
// complete, decodable JPEG (the control then stays blank).
QImage DecodeJpeg(const QByteArray& data);

// The embedded picture assets/<name>.jpg, decoded; null when missing. On a
// screen of device pixel ratio above 1 the picture drawn at twice the size
// (<name>@2x.jpg) is taken where there is one, marked with ratio 2 so that
// it covers the same area, sharp.
QImage SkinPicture(const std::string& name, double devicePixelRatio);
// At the application's device pixel ratio.
QImage SkinPicture(const std::string& name);

}  // namespace kestrel
