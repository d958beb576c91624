<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU" sourcelanguage="en">
<context>
    <name>qgrad</name>
    <message>
        <source>Survey files (*.csv *.CSV)</source>
        <translation>Файлы съёмки (*.csv *.CSV)</translation>
    </message>
    <message>
        <source>All files (*)</source>
        <translation>Все файлы (*)</translation>
    </message>
    <message>
        <source>Empty file!</source>
        <translation>Пустой файл!</translation>
    </message>
    <message>
        <source>Wrong file format!</source>
        <translation>Неправильный формат файла!</translation>
    </message>
    <message>
        <source>Not enough memory to open this file</source>
        <translation>Недостаточно памяти, чтобы открыть этот файл</translation>
    </message>
    <message>
        <source>File not found</source>
        <translation>Файл не найден</translation>
    </message>
    <message>
        <source>The survey is cut off at its end; its last line was left out</source>
        <translation>Файл съёмки оборван на конце; его последняя строка пропущена</translation>
    </message>
    <message>
        <source>A lag of %1 s is beyond the %2 s a sensor can trail or lead the GPS fix; nothing was written</source>
        <translation>Запаздывание %1 с больше %2 с, на которые датчик может отставать от отметки GPS или опережать её; ничего не записано</translation>
    </message>
    <message>
        <source>A despike K of %1 is below %2: most readings would count as spikes; nothing was written</source>
        <translation>Коэффициент K удаления выбросов %1 меньше %2: выбросами оказались бы почти все отсчёты; ничего не записано</translation>
    </message>
</context>
<context>
    <name>qgrad::MapPicture</name>
    <message>
        <source>No network: no satellite picture</source>
        <translation>Нет сети: спутникового снимка нет</translation>
    </message>
    <message>
        <source>Refused by the map service: no satellite picture</source>
        <translation>Картографический сервис отказал: спутникового снимка нет</translation>
    </message>
    <message>
        <source>Timed out: no satellite picture</source>
        <translation>Время ожидания истекло: спутникового снимка нет</translation>
    </message>
    <message>
        <source>The map service sent no picture of the area</source>
        <translation>Картографический сервис не прислал снимка местности</translation>
    </message>
    <message>
        <source>Map request cancelled: no satellite picture</source>
        <translation>Запрос карты отменён: спутникового снимка нет</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Повторить</translation>
    </message>
    <message>
        <source>Ask the map service for the satellite picture again</source>
        <translation>Снова запросить спутниковый снимок у картографического сервиса</translation>
    </message>
</context>
<context>
    <name>qgrad::ProfileChart</name>
    <message>
        <source>Distance, m</source>
        <translation>Расстояние, м</translation>
    </message>
    <message>
        <source>gradHz, nT</source>
        <translation>gradHz, нТл</translation>
    </message>
    <message>
        <source>Channel %1: %2 m, %3 nT/m</source>
        <translation>Канал %1: %2 м, %3 нТл/м</translation>
    </message>
</context>
<context>
    <name>qgrad::SurveyGrid</name>
    <message>
        <source>Drag a column&apos;s edge to widen it; double-click the edge to fit its text</source>
        <translation>Потяните край столбца, чтобы расширить его; двойной щелчок по краю подгоняет ширину под текст</translation>
    </message>
</context>
<context>
    <name>qgrad::TMainForm</name>
    <message>
        <source>Satellite picture</source>
        <translation>Спутниковый снимок</translation>
    </message>
    <message>
        <source>Recent</source>
        <translation>Недавние</translation>
    </message>
    <message>
        <source>Surveys opened recently</source>
        <translation>Недавно открытые съёмки</translation>
    </message>
    <message>
        <source>No surveys yet</source>
        <translation>Съёмок пока нет</translation>
    </message>
    <message>
        <source>Wrote %1 in %2</source>
        <translation>Записаны %1 в %2</translation>
    </message>
    <message>
        <source>Unexpected failure</source>
        <translation>Непредвиденная ошибка</translation>
    </message>
    <message>
        <source>Opening %1 ...</source>
        <translation>Открывается %1 ...</translation>
    </message>
    <message>
        <source>%1 was not opened</source>
        <translation>%1 не открыт</translation>
    </message>
    <message>
        <source>%1: %2 samples, %3 points</source>
        <translation>%1: отсчётов %2, точек %3</translation>
    </message>
    <message>
        <source>The folder run stopped at %1</source>
        <translation>Обработка папки остановлена на %1</translation>
    </message>
    <message>
        <source>GeoTIFF, KMZ and GeoPackage of the gridded map</source>
        <translation>GeoTIFF, KMZ и GeoPackage построенной карты</translation>
    </message>
    <message>
        <source>Result over map</source>
        <translation>Результат на карте</translation>
    </message>
    <message>
        <source>Opacity of the result</source>
        <translation>Непрозрачность результата</translation>
    </message>
    <message>
        <source>GIS export</source>
        <translation>Экспорт в ГИС</translation>
    </message>
    <message>
        <source>PROCESSING:</source>
        <translation>ОБРАБОТКА:</translation>
    </message>
    <message>
        <source>despike, K</source>
        <translation>убрать выбросы, K</translation>
    </message>
    <message>
        <source>Replace readings further than K robust deviations from their neighbours&apos; median</source>
        <translation>Заменить отсчёты, отстоящие от медианы соседей более чем на K робастных отклонений</translation>
    </message>
    <message>
        <source>no destripe</source>
        <translation>без выравнивания</translation>
    </message>
    <message>
        <source>destripe: median</source>
        <translation>выравнивание: медиана</translation>
    </message>
    <message>
        <source>destripe: mean</source>
        <translation>выравнивание: среднее</translation>
    </message>
    <message>
        <source>Take each sensor&apos;s level off each traverse</source>
        <translation>Вычесть уровень каждого датчика на каждом проходе</translation>
    </message>
    <message>
        <source>no lag</source>
        <translation>без задержки</translation>
    </message>
    <message>
        <source>lag, s:</source>
        <translation>задержка, с:</translation>
    </message>
    <message>
        <source>lag: auto</source>
        <translation>задержка: авто</translation>
    </message>
    <message>
        <source>Place each reading at the position this many seconds after it</source>
        <translation>Ставить каждый отсчёт в позицию, взятую на столько секунд позже</translation>
    </message>
    <message>
        <source>Map ready: %1</source>
        <translation>Карта готова: %1</translation>
    </message>
    <message>
        <source>Gridding ended without a map</source>
        <translation>Построение карты завершилось без карты</translation>
    </message>
    <message>
        <source>Gridding %1 ...</source>
        <translation>Строится карта по %1 ...</translation>
    </message>
    <message>
        <source>skip refused surveys</source>
        <translation>пропускать непринятые съёмки</translation>
    </message>
    <message>
        <source>ARRANGE ALL IN FOLDER goes on past a survey it cannot take and lists it</source>
        <translation>ARRANGE ALL IN FOLDER продолжает работу после непринятой съёмки и перечисляет её</translation>
    </message>
    <message numerus="yes">
        <source>%n survey(s) refused and skipped: </source>
        <translation>
            <numerusform>%n съёмка не принята и пропущена: </numerusform>
            <numerusform>%n съёмки не приняты и пропущены: </numerusform>
            <numerusform>%n съёмок не принято и пропущено: </numerusform>
        </translation>
    </message>
    <message>
        <source>reading</source>
        <translation>чтение</translation>
    </message>
    <message>
        <source>cleaning</source>
        <translation>очистка</translation>
    </message>
    <message>
        <source>arranging</source>
        <translation>привязка</translation>
    </message>
    <message>
        <source>drawing</source>
        <translation>построение</translation>
    </message>
    <message>
        <source>window ±</source>
        <translation>окно ±</translation>
    </message>
    <message>
        <source>Readings on each side of the one judged; a spike as long as this is still found</source>
        <translation>Отсчётов с каждой стороны от проверяемого; выброс такой длины ещё находится</translation>
    </message>
    <message>
        <source>true offsets</source>
        <translation>истинные смещения</translation>
    </message>
    <message>
        <source>Place each sensor at its offsets in metres from the antenna</source>
        <translation>Ставить каждый датчик на его смещения в метрах от антенны</translation>
    </message>
    <message>
        <source>Apply to the survey on show</source>
        <translation>Применить к показанной съёмке</translation>
    </message>
    <message>
        <source>Run the processing again on the points on show, without reading the file</source>
        <translation>Выполнить обработку заново на показанных точках, не читая файл</translation>
    </message>
    <message>
        <source>Open a survey with OPEN FILE, drop a survey file or a folder on the window, or pick one under Recent.</source>
        <translation>Откройте съёмку кнопкой OPEN FILE, перетащите в окно файл съёмки или папку или выберите съёмку в «Недавние».</translation>
    </message>
    <message>
        <source>GIS EXPORT</source>
        <translation>ЭКСПОРТ В ГИС</translation>
    </message>
    <message>
        <source>Processing: none</source>
        <translation>Обработка: нет</translation>
    </message>
    <message>
        <source>Processing: %1</source>
        <translation>Обработка: %1</translation>
    </message>
    <message>
        <source>No processing ran on the points on show</source>
        <translation>Показанные точки не обрабатывались</translation>
    </message>
    <message>
        <source>(PROCESSING changed)</source>
        <translation>(ОБРАБОТКА изменена)</translation>
    </message>
    <message>
        <source>SAVE TO MAP writes the points on show, with the processing above, until the change is applied.</source>
        <translation>SAVE TO MAP записывает показанные точки с обработкой выше, пока изменение не применено.</translation>
    </message>
    <message>
        <source>processing</source>
        <translation>обработка</translation>
    </message>
    <message>
        <source>Uncovered</source>
        <translation>Непокрытое</translation>
    </message>
    <message>
        <source>Hatch the ground farther than the coverage check&apos;s distance from every point</source>
        <translation>Штриховать участки дальше расстояния проверки покрытия от всех точек</translation>
    </message>
    <message>
        <source>What the gridding of the next SAVE TO MAP or folder run makes besides the map</source>
        <translation>Что строит сетка при следующем SAVE TO MAP или обработке папки, кроме карты</translation>
    </message>
    <message>
        <source>targets %1</source>
        <translation>цели %1</translation>
    </message>
    <message>
        <source>coverage %1 m</source>
        <translation>покрытие %1 м</translation>
    </message>
    <message>
        <source>GRIDDING: %1</source>
        <translation>СЕТКА: %1</translation>
    </message>
    <message>
        <source>as the script</source>
        <translation>как в сценарии</translation>
    </message>
    <message>
        <source>cell, m</source>
        <translation>ячейка, м</translation>
    </message>
    <message>
        <source>Square cells of this size in the survey&apos;s UTM zone; off: the script&apos;s grid</source>
        <translation>Квадратные ячейки этого размера в зоне UTM съёмки; выключено: сетка сценария</translation>
    </message>
    <message>
        <source>targets beyond</source>
        <translation>цели сильнее</translation>
    </message>
    <message>
        <source>Pick anomalies beyond this from the grid&apos;s median: Ksd (robust standard deviations) or nT/m</source>
        <translation>Выбирать аномалии, отстоящие от медианы сетки больше чем на это: Ksd (робастные стандартные отклонения) или нТл/м</translation>
    </message>
    <message>
        <source>coverage, gap m</source>
        <translation>покрытие, разрыв м</translation>
    </message>
    <message>
        <source>Find the ground of the block farther than this from every point</source>
        <translation>Найти участки блока дальше этого расстояния от всех точек</translation>
    </message>
    <message>
        <source>covered %1 m², uncovered %2 m²</source>
        <translation>покрыто %1 м², не покрыто %2 м²</translation>
    </message>
    <message numerus="yes">
        <source>%n target(s) beyond %1 nT/m</source>
        <translation>
            <numerusform>%n цель сильнее %1 нТл/м</numerusform>
            <numerusform>%n цели сильнее %1 нТл/м</numerusform>
            <numerusform>%n целей сильнее %1 нТл/м</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>qgrad::PrintableMap</name>
    <message>
        <source>%1 km</source>
        <translation>%1 км</translation>
    </message>
    <message>
        <source>%1 m</source>
        <translation>%1 м</translation>
    </message>
    <message>
        <source>Easting, m</source>
        <translation>Восток (easting), м</translation>
    </message>
    <message>
        <source>metres east of the south-west corner</source>
        <translation>метры к востоку от юго-западного угла</translation>
    </message>
    <message>
        <source>Northing, m</source>
        <translation>Север (northing), м</translation>
    </message>
    <message>
        <source>metres north</source>
        <translation>метры к северу</translation>
    </message>
    <message>
        <source>N</source>
        <translation>С</translation>
    </message>
    <message>
        <source>No.</source>
        <translation>№</translation>
    </message>
    <message>
        <source>Longitude</source>
        <translation>Долгота</translation>
    </message>
    <message>
        <source>Latitude</source>
        <translation>Широта</translation>
    </message>
    <message>
        <source>nT/m</source>
        <translation>нТл/м</translation>
    </message>
    <message>
        <source>Depth, m</source>
        <translation>Глубина, м</translation>
    </message>
    <message>
        <source>and %1 more in the targets file</source>
        <translation>и ещё %1 в файле целей</translation>
    </message>
    <message>
        <source>%1 ringed on the map without a number, where numbers would overlap</source>
        <translation>%1 обведены на карте без номера там, где номера наложились бы друг на друга</translation>
    </message>
    <message>
        <source>Longitude, degrees east</source>
        <translation>Долгота, ° в. д.</translation>
    </message>
    <message>
        <source>Latitude, degrees north</source>
        <translation>Широта, ° с. ш.</translation>
    </message>
    <message>
        <source>Magnetic gradient survey</source>
        <translation>Градиентная магнитная съёмка</translation>
    </message>
    <message>
        <source>Surveyed: %1</source>
        <translation>Дата съёмки: %1</translation>
    </message>
    <message>
        <source>Files: %1</source>
        <translation>Файлы: %1</translation>
    </message>
    <message>
        <source>Processing: %1</source>
        <translation>Обработка: %1</translation>
    </message>
    <message>
        <source>none</source>
        <translation>нет</translation>
    </message>
    <message>
        <source>Grid: %1</source>
        <translation>Сетка: %1</translation>
    </message>
    <message>
        <source>Vertical gradient, nT/m; EPSG:%1, grid north up</source>
        <translation>Вертикальный градиент, нТл/м; EPSG:%1, север сетки вверху</translation>
    </message>
    <message>
        <source>Vertical gradient, nT/m; WGS 84, north up</source>
        <translation>Вертикальный градиент, нТл/м; WGS 84, север вверху</translation>
    </message>
    <message>
        <source>Targets beyond %1 nT/m from the median: %2</source>
        <translation>Целей дальше %1 нТл/м от медианы: %2</translation>
    </message>
    <message>
        <source>median ± %1 sd</source>
        <translation>медиана ± %1 ст. откл.</translation>
    </message>
    <message>
        <source>± %1 nT/m</source>
        <translation>± %1 нТл/м</translation>
    </message>
    <message>
        <source>%1 to %2 nT/m</source>
        <translation>от %1 до %2 нТл/м</translation>
    </message>
    <message>
        <source>percentiles</source>
        <translation>процентили</translation>
    </message>
    <message>
        <source>%1 × %2 nodes, cells %3 × %4 m, kriged; clip %5</source>
        <translation>%1 × %2 узлов, ячейки %3 × %4 м, кригинг; пределы %5</translation>
    </message>
    <message>
        <source>as in %1</source>
        <translation>как в %1</translation>
    </message>
</context>
<context>
    <name>qgrad::TargetTableModel</name>
    <message>
        <source>survey file</source>
        <translation>файл съёмки</translation>
    </message>
    <message>
        <source>line</source>
        <translation>строка</translation>
    </message>
</context>
</TS>
