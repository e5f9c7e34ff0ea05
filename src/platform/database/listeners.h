// Several listeners on one hook of the record store.
//
// Each listener is held by the Subscription that adding it returned: it
// listens for as long as that object lives. A Subscription may outlive the
// store it listens to; ending it then does nothing.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace vellumo {

class Subscription {
public:
    Subscription() = default;
    explicit Subscription(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    ~Subscription() { reset(); }
    Subscription(Subscription&& other) noexcept : cancel_(std::exchange(other.cancel_, {})) {}
    Subscription& operator=(Subscription&& other) noexcept {
        if (this != &other) {
            reset();
            cancel_ = std::exchange(other.cancel_, {});
        }
        return *this;
    }
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;

    // Stops listening at once, also in the middle of a call to every listener.
    void reset() {
        if (auto cancel = std::exchange(cancel_, {}))
            cancel();
    }
    bool isActive() const { return static_cast<bool>(cancel_); }

private:
    std::function<void()> cancel_;
};

template <class... Args> class Listeners {
public:
    using Function = std::function<void(Args...)>;

    [[nodiscard]] Subscription add(Function function) {
        const int id = ++lastId_;
        entries_->push_back({id, std::move(function)});
        std::weak_ptr<std::vector<Entry>> weak = entries_;
        return Subscription([weak, id] {
            if (auto entries = weak.lock())
                std::erase_if(*entries, [id](const Entry& e) { return e.id == id; });
        });
    }

    bool empty() const { return entries_->empty(); }

    // Calls the listeners in the order they were added. One that is removed
    // by an earlier one is not called any more; one added meanwhile waits for
    // the next call. The first error stops the call and is passed on.
    void callEach(Args... args) const {
        for (const int id : ids())
            if (Function f = find(id))
                f(args...);
    }

    // Calls every listener even when one raises; the first error is passed on
    // once all have been called.
    void callAll(Args... args) const {
        std::exception_ptr first;
        for (const int id : ids()) {
            Function f = find(id);
            if (!f)
                continue;
            try {
                f(args...);
            } catch (...) {
                if (!first)
                    first = std::current_exception();
            }
        }
        if (first)
            std::rethrow_exception(first);
    }

private:
    struct Entry {
        int id;
        Function function;
    };

    std::vector<int> ids() const {
        std::vector<int> ids;
        ids.reserve(entries_->size());
        for (const Entry& e : *entries_)
            ids.push_back(e.id);
        return ids;
    }

    // A copy, so a listener that ends its own subscription while it runs is
    // not destroyed under its feet.
    Function find(int id) const {
        for (const Entry& e : *entries_)
            if (e.id == id)
                return e.function;
        return {};
    }

    std::shared_ptr<std::vector<Entry>> entries_ = std::make_shared<std::vector<Entry>>();
    int lastId_ = 0;
};

} // namespace vellumo
