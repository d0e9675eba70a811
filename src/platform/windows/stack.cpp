#include "platform/stack.hpp"

#include <windows.h>

#include <exception>

namespace advdiff::platform {

namespace {

struct Job {
    const std::function<void()>* body;
    std::exception_ptr failure;
};

DWORD WINAPI run_job(void* argument) {
    Job& job = *static_cast<Job*>(argument);
    try {
        (*job.body)();
    } catch (...) {
        job.failure = std::current_exception();
    }
    return 0;
}

}  // namespace

void run_with_stack(std::size_t bytes, const std::function<void()>& body) {
    Job job{&body, nullptr};
    const HANDLE thread = CreateThread(nullptr, bytes, run_job, &job, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr) {
        body();
        return;
    }
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    if (job.failure) std::rethrow_exception(job.failure);
}

}  // namespace advdiff::platform
