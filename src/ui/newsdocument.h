#pragma once

#include <QTextDocument>

// The news ticker's text. News arrives unauthenticated (on the command line or from the update
// server), so of its HTML only what a one-line ticker needs is kept: the text, on one line, in
// the document's default format, and links to web addresses. Every other tag, style and image
// is dropped, and the document never loads a resource: no image, style sheet or file named in
// the news is read, neither while the HTML is parsed nor when the text is laid out.
class NewsDocument : public QTextDocument
{
public:
    explicit NewsDocument(QObject* parent = nullptr);

    // Replaces the content with the text and web links of `html`.
    void setNews(const QString& html);

protected:
    QVariant loadResource(int type, const QUrl& name) override;
};
