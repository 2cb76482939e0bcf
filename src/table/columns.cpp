#include "columns.h"

std::vector<std::string> stored_names_of(int type) {
    std::vector<std::string> names;
    const Schema s = schema_of(type);
    for (int k = 0; k < s.count; ++k) names.emplace_back(info_of(s.columns[k]).name, 0, 10);
    return names;
}

std::vector<StoredColumn> stored_columns_of(int type, const ExtraColumns &extras) {
    std::vector<StoredColumn> columns;
    const Schema s = schema_of(type);
    for (int k = 0; k < s.count; ++k) {
        const ColumnInfo &c = info_of(s.columns[k]);
        columns.push_back({std::string(c.name, 0, 10), c.width, c.decimals});
    }
    for (const ExtraColumn &c : extras) columns.push_back({c.name, c.width, c.decimals});
    return columns;
}


std::string choose_columns(const std::vector<std::string> &names, const std::vector<StoredColumn> &columns,
                           const std::string &table_name, ColumnChoice &choice) {
    choice.picked.clear();
    std::vector<std::string> given(columns.size());  // the name that picked each column
    for (const std::string &name : names) {
        size_t k = 0;
        while (k < columns.size() && !same_column_name(name, columns[k].name)) ++k;
        if (k == columns.size()) {
            std::string line = "--columns: the table of " + table_name + " has no column \"" + name +
                               "\"; its columns are ";
            for (size_t c = 0; c < columns.size(); ++c) line += (c > 0 ? ", " : "") + columns[c].name;
            choice.picked.clear();
            return line;
        }
        if (!given[k].empty()) {
            choice.picked.clear();
            return "--columns names the column " + columns[k].name + " twice, as \"" + given[k] + "\" and as \"" +
                   name + "\"";
        }
        given[k] = name;
        choice.picked.push_back(static_cast<int>(k));
    }
    return "";
}

int table_header_length(int type, const ExtraColumns &extras, const ColumnChoice &choice) {
    const size_t count = choice.picked.empty() ? stored_columns_of(type, extras).size() : choice.picked.size();
    return header_length_of(type) + 32 * (static_cast<int>(count) - schema_of(type).count);
}

int table_record_length(int type, const ExtraColumns &extras, const ColumnChoice &choice) {
    const std::vector<StoredColumn> columns = stored_columns_of(type, extras);
    int length = 1;
    if (choice.picked.empty())
        for (const StoredColumn &c : columns) length += c.width;
    else
        for (int k : choice.picked) length += columns[static_cast<size_t>(k)].width;
    return length;
}
