#include "reconcile_ui/view/detail_list_view.h"

#include <QDialog>
#include <QPushButton>
#include <QTableView>

#include "shell/qt/screen_widgets.h"
#include "shell/qt/twips.h"

namespace tallyvet {

namespace {
// Twips of one display cell at 9 points (a blank), and the room the cell's borders take.
constexpr int kCellTwips = 90;
constexpr int kCellMarginPx = 6;
}  // namespace

int FormatColumnPixels(int cells) {
  return cells <= 0 ? 0 : qt::Px(cells * kCellTwips) + kCellMarginPx;
}

qt::GridSource GridSourceOf(const Grid& grid) {
  return qt::GridSource{
      [&grid] { return grid.Rows(); },
      [&grid] { return grid.Cols(); },
      [&grid](int row, int col) -> const std::string& { return grid.Text(row, col); },
      [&grid](int col) { return FormatColumnPixels(grid.ColWidth(col)); },
      [&grid](int row) { return qt::GridRowPixels(grid.RowHeight(row), Grid::kHeaderRowHeight); },
      {}};
}

DetailListView::DetailListView(const DetailListScreen& screen, QWidget* owner) {
  dialog_ = qt::MakeDialog(DetailListScreen::kCaption, 6120, 4680, owner);
  dialog_->setObjectName(QStringLiteral("frmDetailList"));
  qt::GridSource source = GridSourceOf(screen.grdList());
  // The documents the difference's cause names stand out.
  source.marked = [&screen](int row) { return screen.RowMarked(row); };
  grid_ = std::make_unique<qt::GridTable>(*dialog_, std::move(source));
  grid_->View().setObjectName(QStringLiteral("grdList"));
  qt::Place(grid_->View(), 120, 120, 5880, 3900);
  cmdClose_ = new QPushButton(qt::ToQt(DetailListScreen::kCloseCaption), dialog_.get());
  cmdClose_->setAutoDefault(false);
  cmdClose_->setObjectName(QStringLiteral("cmdClose"));
  qt::Place(*cmdClose_, 4785, 4170, 1215, 390);
  QObject::connect(cmdClose_, &QPushButton::clicked, dialog_.get(),
                   [this] { dialog_->done(QDialog::Accepted); });
}

DetailListView::~DetailListView() = default;

}  // namespace tallyvet
