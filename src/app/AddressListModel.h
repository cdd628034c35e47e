#pragma once
// The recipient list behind the address list view: a sorted, case-insensitive string list
// (duplicates and empty entries kept). Loading a file sorts once, so a list of a million
// addresses loads in seconds; the view asks only for the rows it shows.
#include <QAbstractListModel>
#include <string>

#include "base/StringList.h"

class TAddressListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit TAddressListModel(QObject* Parent = nullptr);

    int rowCount(const QModelIndex& Parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& Index, int Role = Qt::DisplayRole) const override;

    const TStringList& Items() const { return FItems; }
    int Count() const { return FItems.Count(); }
    // Inserts in sorted place, after entries that compare equal; returns the new index.
    int Add(const std::string& S);
    void Delete(int Index);
    void Clear();
    // Replaces the whole list with the file's lines (CR LF, LF or CR); on a read error the
    // list is unchanged. Raises the file errors of the stream classes.
    void LoadFromFile(const std::string& FileName);
    // Replaces the whole list with the lines of Text, read as a file's content.
    void SetText(const std::string& Text);
    // Every entry in list order followed by CR LF; the old file is replaced only once the
    // new one is complete.
    void SaveToFile(const std::string& FileName) const;

private:
    TStringList FItems;
};
