// The simulator variables of the bench host, by token and by name.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace runtime {

class VariableStore {
public:
    VariableStore() = default;
    // A copy looks its tokens up afresh (the cache points into the map it was made from).
    VariableStore(const VariableStore& other)
        : tokens_(other.tokens_), named_(other.named_), read_unset_(other.read_unset_) {}
    VariableStore& operator=(const VariableStore& other) {
        tokens_ = other.tokens_;
        named_ = other.named_;
        read_unset_ = other.read_unset_;
        recent_.fill({});
        return *this;
    }

    // A token never set reads 0.
    double get(uint32_t token) const {
        const Recent& recent = recent_[token % recent_.size()];
        if (recent.value != nullptr && recent.token == token) return *recent.value;
        return get_anew(token);
    }
    void set(uint32_t token, double value);
    // The token's value as a place to write, made (at 0) if the token was
    // never set; it stays valid as long as the store, so a caller writing the
    // same tokens over and over can skip the look-up.
    double& slot(uint32_t token) { return tokens_[token]; }

    // Named variables ("L:Bombs_dropped"); a name never set reads 0.
    double get(const std::string& name) const;
    void set(const std::string& name, double value);
    bool has(const std::string& name) const { return named_.count(name) != 0; }
    // Whether anything set or read the name: one nothing uses is likely misspelt.
    bool used(const std::string& name) const { return has(name) || read_unset_.count(name) != 0; }

    const std::map<uint32_t, double>& tokens() const { return tokens_; }
    const std::map<std::string, double>& names() const { return named_; }

private:
    double get_anew(uint32_t token) const;

    std::map<uint32_t, double> tokens_;
    // The value of the token read last in each slot: the host reads a hundred
    // tokens every panel update. The map's nodes never move or go, so a
    // pointer into one holds for as long as the map.
    struct Recent {
        uint32_t token = 0;
        const double* value = nullptr;
    };
    mutable std::array<Recent, 256> recent_{};
    std::map<std::string, double> named_;
    mutable std::set<std::string> read_unset_;  // names read before anything set them
};

}  // namespace runtime
