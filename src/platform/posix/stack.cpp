#include "platform/stack.hpp"

#include <exception>
#include <pthread.h>

namespace advdiff::platform {

namespace {

struct Job {
    const std::function<void()>* body;
    std::exception_ptr failure;
};

extern "C" void* run_job(void* argument) {
    Job& job = *static_cast<Job*>(argument);
    try {
        (*job.body)();
    } catch (...) {
        job.failure = std::current_exception();
    }
    return nullptr;
}

}  // namespace

void run_with_stack(std::size_t bytes, const std::function<void()>& body) {
    Job job{&body, nullptr};
    pthread_attr_t attributes;
    bool started = false;
    pthread_t thread{};
    if (pthread_attr_init(&attributes) == 0) {
        started = pthread_attr_setstacksize(&attributes, bytes) == 0 &&
                  pthread_create(&thread, &attributes, run_job, &job) == 0;
        pthread_attr_destroy(&attributes);
    }
    if (!started) {
        body();
        return;
    }
    pthread_join(thread, nullptr);
    if (job.failure) std::rethrow_exception(job.failure);
}

}  // namespace advdiff::platform
