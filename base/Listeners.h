#pragma once
// An event any number of listeners hear, each subscribed to the source itself. A listener
// stays as long as the handle Add gave it: an object that listens keeps its handle as a
// member and is unhooked when it goes, whichever of the two goes first.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

// When a listener hears of an event: those that record what happened before those that
// count it, and those before the ones that publish it, whatever order they were added in;
// within one turn, in the order added.
enum class TListenerTurn { Record, Count, Publish };

template <typename... Args>
class TListeners {
    struct TEntry {
        std::uint64_t Id;
        TListenerTurn Turn;
        std::function<void(Args...)> Call;
    };
    struct TList {
        std::vector<TEntry> Entries;
        std::uint64_t NextId = 1;
    };

public:
    class THandle {
    public:
        THandle() = default;
        THandle(THandle&& other) noexcept : list_(std::move(other.list_)), id_(std::exchange(other.id_, 0)) {}
        THandle& operator=(THandle&& other) noexcept
        {
            if (this != &other) {
                Remove();
                list_ = std::move(other.list_);
                id_ = std::exchange(other.id_, 0);
            }
            return *this;
        }
        THandle(const THandle&) = delete;
        THandle& operator=(const THandle&) = delete;
        ~THandle() { Remove(); }

        void Remove()
        {
            if (const auto list = list_.lock())
                std::erase_if(list->Entries, [this](const TEntry& e) { return e.Id == id_; });
            list_.reset();
            id_ = 0;
        }

    private:
        friend class TListeners;
        THandle(std::weak_ptr<TList> list, std::uint64_t id) : list_(std::move(list)), id_(id) {}
        std::weak_ptr<TList> list_;
        std::uint64_t id_ = 0;
    };

    TListeners() = default;
    // A copied or moved source starts with no listeners: they subscribed to the one they saw.
    TListeners(const TListeners&) : TListeners() {}
    TListeners& operator=(const TListeners&) { return *this; }

    [[nodiscard]] THandle Add(std::function<void(Args...)> call, TListenerTurn turn = TListenerTurn::Publish)
    {
        const std::uint64_t id = list_->NextId++;
        auto& entries = list_->Entries;
        const auto after =
            std::find_if(entries.begin(), entries.end(), [turn](const TEntry& e) { return e.Turn > turn; });
        entries.insert(after, TEntry{id, turn, std::move(call)});
        return THandle(list_, id);
    }

    // A listener may unhook itself or another while it is told: one unhooked is not told.
    void operator()(Args... args) const
    {
        std::vector<std::uint64_t> ids;
        ids.reserve(list_->Entries.size());
        for (const TEntry& e : list_->Entries)
            ids.push_back(e.Id);
        const std::shared_ptr<TList> list = list_;
        for (const std::uint64_t id : ids) {
            const auto it =
                std::find_if(list->Entries.begin(), list->Entries.end(), [id](const TEntry& e) { return e.Id == id; });
            if (it == list->Entries.end())
                continue;
            const std::function<void(Args...)> call = it->Call;
            call(args...);
        }
    }

    bool Empty() const { return list_->Entries.empty(); }
    // Whether anyone listens: a source may spare itself the work of telling no one.
    explicit operator bool() const { return !Empty(); }

private:
    std::shared_ptr<TList> list_ = std::make_shared<TList>();
};
