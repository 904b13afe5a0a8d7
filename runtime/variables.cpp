#include "runtime/variables.h"

namespace runtime {

double VariableStore::get_anew(uint32_t token) const {
    auto it = tokens_.find(token);
    if (it == tokens_.end()) return 0.0;
    recent_[token % recent_.size()] = {token, &it->second};
    return it->second;
}

void VariableStore::set(uint32_t token, double value) { tokens_[token] = value; }

double VariableStore::get(const std::string& name) const {
    auto it = named_.find(name);
    if (it != named_.end()) return it->second;
    read_unset_.insert(name);
    return 0.0;
}

void VariableStore::set(const std::string& name, double value) { named_[name] = value; }

}  // namespace runtime
