#pragma once
// The main window's panel of housekeeping values: one name and one value
// label per information field of the lidar and monitoring records, and per
// navigation value when an INS is fitted, in the order they first arrive.
// A record consumer of the acquisition source.
#include <QScrollArea>
#include <map>
#include <string>

#include "Display/AdditionalInfoModel.h"

class QGridLayout;
class QLabel;

namespace OrlaqLidar {

class TApplicationConfig;
class TLidarManager;

class TAdditionalInfoCtrl : public QScrollArea {
  Q_OBJECT
 public:
  // Items per row of the panel.
  static constexpr int Columns = 4;

  explicit TAdditionalInfoCtrl(const TApplicationConfig& config, QWidget* parent = nullptr);
  ~TAdditionalInfoCtrl() override;

  // Registers on a source (the panel is cleared); null only detaches.
  void Attach(TLidarManager* source);
  void Detach();
  void Clear();
  // While frozen, records are ignored.
  void SetFrozen(bool on) { frozen_ = on; }
  bool Frozen() const { return frozen_; }

  void OnRecord(int recordId, const uint8_t* data, int length);

  int ItemCount() const { return static_cast<int>(items_.size()); }
  // The value label of an item, or null.
  QLabel* ValueLabel(const std::string& key) const;

 private:
  struct TItem {
    QLabel* Name = nullptr;
    QLabel* Value = nullptr;
    int Level = 0;
    int Width = 0;
  };
  TItem& Find(const TAdditionalInfoItem& item);
  void SetText(TItem& item, const std::string& text);
  static void SetLevel(TItem& item, int level);

  TAdditionalInfoModel model_;
  TLidarManager* source_ = nullptr;
  QWidget* content_;
  QGridLayout* grid_;
  std::map<std::string, TItem> items_;
  bool frozen_ = false;
};

}  // namespace OrlaqLidar
