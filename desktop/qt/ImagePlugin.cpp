// The Qt image-format plugin: Qt finds it in its "imageformats" plugin
// folder and hands it every image whose name ends in ".dis", of the type
// image/x-btreeimg, or whose bytes it recognises. One source for Qt 5 and
// Qt 6; ImageHandler does the work.
#include <QImageIOPlugin>

#include "ImageHandler.h"

namespace btreeimg::qt {

class ImagePlugin : public QImageIOPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "btreeimg.json")

 public:
  Capabilities capabilities(QIODevice* device, const QByteArray& format) const override {
    if (format == "dis") return CanRead | CanWrite;
    if (!format.isEmpty() || device == nullptr || !device->isOpen()) return {};
    Capabilities can;
    if (device->isReadable() && ImageHandler::canRead(device)) can |= CanRead;
    if (device->isWritable()) can |= CanWrite;
    return can;
  }

  QImageIOHandler* create(QIODevice* device, const QByteArray& format) const override {
    auto* handler = new ImageHandler;
    handler->setDevice(device);
    handler->setFormat(format.isEmpty() ? QByteArray("dis") : format);
    return handler;
  }
};

}  // namespace btreeimg::qt

#include "ImagePlugin.moc"
