#include "SentenceFormat.h"

#include <algorithm>

void ValueTable::Update(const SentenceValue& value)
{
    const auto same = std::find_if(values.begin(), values.end(),
                                   [&](const SentenceValue& v) { return v.name == value.name; });
    if (same == values.end())
        values.push_back(value);
    else
        *same = value;
}

const SentenceValue* ValueTable::Find(const std::string& name) const
{
    for (const SentenceValue& value : values)
        if (value.name == name)
            return &value;
    return nullptr;
}

std::string ValueTable::Text(const std::string& name) const
{
    const SentenceValue* value = Find(name);
    return value ? value->text : std::string();
}
