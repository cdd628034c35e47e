#include "AddressListModel.h"

#include <algorithm>

#include "base/Stream.h"

TAddressListModel::TAddressListModel(QObject* Parent) : QAbstractListModel(Parent) { FItems.SetSorted(true); }

int TAddressListModel::rowCount(const QModelIndex& Parent) const { return Parent.isValid() ? 0 : FItems.Count(); }

QVariant TAddressListModel::data(const QModelIndex& Index, int Role) const
{
    if (!Index.isValid() || Index.row() >= FItems.Count()) return {};
    if (Role == Qt::DisplayRole || Role == Qt::EditRole) return QString::fromStdString(FItems[Index.row()]);
    return {};
}

int TAddressListModel::Add(const std::string& S)
{
    // The row must be announced before the insertion; the list puts a new line after the
    // lines it compares equal to, which is where upper_bound points.
    const auto& items = FItems.Items();
    const auto it = std::upper_bound(items.begin(), items.end(), S,
                                     [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
    const int row = static_cast<int>(it - items.begin());
    beginInsertRows(QModelIndex(), row, row);
    const int at = FItems.Add(S);
    endInsertRows();
    return at;
}

void TAddressListModel::Delete(int Index)
{
    if (Index < 0 || Index >= FItems.Count()) return;
    beginRemoveRows(QModelIndex(), Index, Index);
    FItems.Delete(Index);
    endRemoveRows();
}

void TAddressListModel::Clear()
{
    beginResetModel();
    FItems.Clear();
    endResetModel();
}

void TAddressListModel::LoadFromFile(const std::string& FileName)
{
    SetText(ReadWholeFile(FileName));  // may raise; the list stays as it was
}

void TAddressListModel::SetText(const std::string& Text)
{
    beginResetModel();
    FItems.SetText(Text);
    endResetModel();
}

void TAddressListModel::SaveToFile(const std::string& FileName) const { FItems.SaveToFile(FileName); }
