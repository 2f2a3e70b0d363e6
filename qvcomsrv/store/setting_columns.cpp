#include "qvcomsrv/store/setting_columns.h"

namespace sky::farm {

namespace {

std::string quoted(std::string_view name) {
    return "\"" + std::string(name) + "\"";
}

} // namespace

std::string_view settingSqlType(const SettingDef& def) {
    return def.isText() ? "TEXT" : "INTEGER";
}

std::string settingSqlDefault(const SettingDef& def) {
    if (!def.isText())
        return std::to_string(def.defaultNumber);
    std::string literal = "'";
    for (const char c : def.defaultText) {
        if (c == '\'')
            literal += '\'';
        literal += c;
    }
    return literal + "'";
}

std::string settingSqlCheck(const SettingDef& def) {
    if (def.kind != SettingKind::Enumeration || !def.enumeration)
        return {};
    // A bit set's members are the bits up to `last`: its values run from 0 to all of them.
    const EnumerationDef& e = *def.enumeration;
    const std::int32_t highest = e.bitSet ? e.last * 2 - 1 : e.last;
    return quoted(def.name) + " BETWEEN 0 AND " + std::to_string(highest);
}

std::string settingColumnDefinition(const SettingDef& def, bool withCheck) {
    std::string sql = quoted(def.name) + " " + std::string(settingSqlType(def)) +
                      " NOT NULL DEFAULT " + settingSqlDefault(def);
    if (withCheck) {
        if (std::string check = settingSqlCheck(def); !check.empty())
            sql += " CHECK (" + check + ")";
    }
    return sql;
}

std::string settingColumnDefinitions(std::span<const SettingDef> defs, bool withChecks) {
    std::string sql;
    for (const SettingDef& def : defs)
        sql += ",\n  " + settingColumnDefinition(def, withChecks);
    return sql;
}

std::string settingColumnList(std::span<const SettingDef> defs, std::string_view prefix) {
    std::string sql;
    for (const SettingDef& def : defs) {
        if (!sql.empty())
            sql += ", ";
        sql += std::string(prefix) + quoted(def.name);
    }
    return sql;
}

std::string settingAssignments(std::span<const SettingDef> defs, int first) {
    std::string sql;
    int index = first;
    for (const SettingDef& def : defs) {
        if (index != first)
            sql += ", ";
        sql += quoted(def.name) + " = ?" + std::to_string(index++);
    }
    return sql;
}

} // namespace sky::farm
