#include "Display/PaletteLibrary.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>

#include "Common/StringUtils.h"

namespace OrlaqLidar {

int TPaletteLibrary::Load(const std::string& folder) {
  entries_.clear();
  const QDir dir(QString::fromStdString(folder));
  const QFileInfoList files = dir.entryInfoList({"*.bmp", "*.BMP"}, QDir::Files, QDir::Name);
  for (const QFileInfo& f : files) {
    const QImage image(f.absoluteFilePath());
    if (image.isNull()) continue;
    const auto colours = TPaletteContrast::SampleBitmap(
        image.width(), image.height(), [&](int x, int y) { return static_cast<uint32_t>(image.pixel(x, y)); });
    if (!colours) continue;
    const std::string name = f.completeBaseName().toStdString();
    if (!Find(name)) entries_.push_back({name, *colours});
  }
  return static_cast<int>(entries_.size());
}

const TPaletteLibrary::TEntry* TPaletteLibrary::Find(const std::string& name) const {
  for (const auto& e : entries_)
    if (SameText(e.Name, name)) return &e;
  return nullptr;
}

std::string TPaletteLibrary::DefaultFolder() {
  const QString exe = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
  for (const char* rel : {"/../../share/palettes", "/../share/skyvane/palettes", "/../../../share/palettes", "/Ressources"}) {
    const QDir d(exe + rel);
    if (d.exists()) return d.absolutePath().toStdString();
  }
  return (exe + "/Ressources").toStdString();
}

}  // namespace OrlaqLidar
