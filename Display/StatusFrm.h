#pragma once
// The status window: the status tree of the acquisition source, one row per
// status with its connection, power, error and acquisition states and its
// text. A small tool window kept on top; closing it only hides it. Its
// placement and column widths are kept in the settings store.
#include <QWidget>
#include <map>
#include <string>

class QTreeWidget;
class QTreeWidgetItem;

namespace OrlaqLidar {

class TCustomIniFile;
class TLidarManager;
struct TStatusRow;

class TStatusFrm : public QWidget {
  Q_OBJECT
 public:
  static constexpr const char* Section = "Skyvane\\Status";
  static constexpr const char* FormName = "StatusFrm";
  enum TColumn : int { ColElement, ColConnect, ColPower, ColError, ColAcqState, ColText, ColumnCount };
  // Lower than the main window's: it has seen the change first.
  static constexpr int StatusPriority = 5;

  // The store is not owned and must outlive the window; null keeps nothing.
  explicit TStatusFrm(TCustomIniFile* store, QWidget* parent = nullptr);
  ~TStatusFrm() override;

  // Shows the statuses of a source and follows its changes; null only
  // detaches and empties the list.
  void Attach(TLidarManager* source);
  void Detach();
  // Rows made or updated from the source's status tree; rows of statuses
  // that are gone are removed.
  void Refresh();
  // Shown, restored when minimised and brought to the front.
  void ShowAndRaise();

  QTreeWidget* Tree() const { return tree_; }
  // The image number a cell shows, -1 for none (the test reads it).
  static int ImageOf(const QTreeWidgetItem* item, int column);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Apply(QTreeWidgetItem* item, const TStatusRow& row);
  void SetImage(QTreeWidgetItem* item, int column, int image);
  void LoadPlacement();
  void SavePlacement();

  TCustomIniFile* store_;
  TLidarManager* source_ = nullptr;
  QTreeWidget* tree_;
  std::map<std::string, QTreeWidgetItem*> rows_;
};

}  // namespace OrlaqLidar
