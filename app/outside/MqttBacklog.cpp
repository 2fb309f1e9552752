// What waits for the broker: the newest state of each topic and the events, bounded.

#include "outside/MqttPublisher.h"

#include <algorithm>

MqttBacklog::MqttBacklog(int eventLimit, int topicLimit)
    : m_eventLimit(std::max(1, eventLimit))
    , m_topicLimit(std::max(1, topicLimit))
{
}

void MqttBacklog::noteSize()
{
    m_mostQueued = std::max(m_mostQueued, size());
}

void MqttBacklog::add(MqttMessage message)
{
    if (message.retain) {
        const QString topic = message.topic;
        if (!m_last.contains(topic) && m_last.size() >= m_topicLimit) {
            ++m_lost;
            return;
        }
        m_last.insert(topic, std::move(message));
        if (!m_waiting.value(topic)) {
            m_waiting.insert(topic, true);
            m_queue.push_back(Entry{true, topic, {}});
            noteSize();
        }
        return;
    }
    if (m_events >= m_eventLimit) {
        ++m_lost;
        return;
    }
    ++m_events;
    m_queue.push_back(Entry{false, {}, std::move(message)});
    noteSize();
}

void MqttBacklog::putBack(std::deque<MqttMessage> events)
{
    // In their order at the front; those that no longer fit (the later ones) are lost.
    const auto room = size_t(std::max(0, m_eventLimit - m_events));
    if (events.size() > room) {
        m_lost += int64_t(events.size() - room);
        events.resize(room);
    }
    for (auto it = events.rbegin(); it != events.rend(); ++it) {
        ++m_events;
        m_queue.push_front(Entry{false, {}, std::move(*it)});
    }
    noteSize();
}

std::optional<MqttMessage> MqttBacklog::take()
{
    if (m_queue.empty())
        return std::nullopt;
    Entry e = std::move(m_queue.front());
    m_queue.pop_front();
    if (!e.retained) {
        --m_events;
        return std::move(e.message);
    }
    m_waiting.insert(e.topic, false);
    MqttMessage m = m_last.value(e.topic);
    // An empty retained message removes the topic's message at the broker: once sent, there is
    // nothing to send again after a reconnect.
    if (m.payload.isEmpty()) {
        m_last.remove(e.topic);
        m_waiting.remove(e.topic);
    }
    return m;
}

void MqttBacklog::requeueRetained()
{
    for (auto it = m_last.cbegin(); it != m_last.cend(); ++it) {
        if (m_waiting.value(it.key()))
            continue;
        m_waiting.insert(it.key(), true);
        m_queue.push_back(Entry{true, it.key(), {}});
    }
    noteSize();
}
