"""The links between the repository's markdown files: every relative link names a file that exists
and, with #anchor, a heading of that file; every page under docs/ is reached from the README,
directly or through other pages. Code blocks and web addresses are left alone."""
import os
import re
import sys

root = sys.argv[1]
pages = ["README.md", "CONTRIBUTING.md"] + sorted(
    os.path.join("docs", name) for name in os.listdir(os.path.join(root, "docs")) if name.endswith(".md"))


def prose(path):
    """The lines of a markdown file outside fenced and indented code blocks."""
    lines, fenced = [], False
    with open(os.path.join(root, path), encoding="utf-8") as f:
        for line in f:
            if line.lstrip().startswith("```"):
                fenced = not fenced
            elif not fenced and not line.startswith("    "):
                lines.append(line)
    return lines


def anchors(path):
    """The anchors of a file's headings, as the usual markdown renderers make them."""
    made, seen = set(), {}
    for line in prose(path):
        heading = re.match(r"#{1,6}\s+(.*?)\s*#*\s*$", line)
        if heading:
            slug = re.sub(r"[^\w\- ]", "", heading.group(1).strip().lower()).replace(" ", "-")
            count = seen.get(slug, 0)
            seen[slug] = count + 1
            made.add(slug if count == 0 else f"{slug}-{count}")
    return made


problems, links_to = [], {}
for page in pages:
    links_to[page] = set()
    for number, line in enumerate(prose(page), 1):
        for target in re.findall(r"\]\(([^)\s]+)\)", re.sub(r"`[^`]*`", "", line)):
            if re.match(r"[a-z]+:", target):
                continue
            path, _, anchor = target.partition("#")
            resolved = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
            if not os.path.exists(os.path.join(root, resolved)):
                problems.append(f"{page}: link to {target}: no such file")
                continue
            links_to[page].add(resolved)
            if anchor and resolved.endswith(".md") and anchor not in anchors(resolved):
                problems.append(f"{page}: link to {target}: no such heading in {resolved}")

reached, queue = {"README.md"}, ["README.md"]
while queue:
    for target in links_to.get(queue.pop(), ()):
        if target in links_to and target not in reached:
            reached.add(target)
            queue.append(target)
problems += [f"{page}: not reached from README.md" for page in pages if page not in reached]

assert not problems, "\n".join(problems)
print(f"ok: {sum(len(t) for t in links_to.values())} linked files from {len(pages)} pages")
