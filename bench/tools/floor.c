/* The floor: the cheapest CGI program there is. It writes one fixed reply
 * of the size of a typical fetched document and exits, so the web server's
 * process start and pipe handling are all that is measured. Linked
 * statically, with no C library start-up beyond the minimum. */
#include <unistd.h>

static const char s_reply[] =
    "Status: 200 OK\r\n"
    "Content-Type: application/json\r\n"
    "\r\n"
    "{\"id\":1,\"title\":\"Floor\",\"overview\":\"A fixed reply of about the size of one stored "
    "document, so that the floor moves as many bytes as a fetch does. It is written with one "
    "system call and the program ends; nothing is read, nothing is opened, nothing is parsed. "
    "Whatever a real program costs beyond this is its own work: loading, opening its store, "
    "finding the document and writing it out. The text goes on a little longer to reach the "
    "size.\",\"genres\":[\"Documentary\"],\"release_date\":\"2000-01-01\"}\n";

int main(void)
{
    const char *p = s_reply;
    size_t left = sizeof s_reply - 1;
    while (left > 0) {
        ssize_t n = write(1, p, left);
        if (n <= 0)
            return 1;
        p += n;
        left -= (size_t)n;
    }
    return 0;
}
