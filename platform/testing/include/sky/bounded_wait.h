// Waiting for a call that might not return, without hanging the test that waits.
#pragma once

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <thread>
#include <type_traits>

namespace sky::testing {

// The answer of `call`, run on a thread of its own, if it comes within `bound`; nullopt
// otherwise (the thread is left to finish by itself).
template <class Call, class Rep, class Period>
std::optional<std::invoke_result_t<Call>> within(std::chrono::duration<Rep, Period> bound,
                                                 Call call) {
    auto task = std::make_shared<std::packaged_task<std::invoke_result_t<Call>()>>(call);
    auto answer = task->get_future();
    std::thread([task] { (*task)(); }).detach();
    if (answer.wait_for(bound) != std::future_status::ready)
        return std::nullopt;
    return answer.get();
}

} // namespace sky::testing
