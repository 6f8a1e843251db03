#pragma once

// Delivers a message that must not be lost: post() is tried again, with a pause
// between the tries, until it succeeds or abandon() says that nobody will take
// the message any more. Answers whether it was delivered.
template <typename Post, typename Abandon, typename Pause>
bool DeliverUntilTaken(Post post, Abandon abandon, Pause pause)
{
    while (!post()) {
        if (abandon())
            return false;
        pause();
    }
    return true;
}
